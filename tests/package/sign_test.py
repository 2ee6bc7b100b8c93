"""scripts/sign.sh with a throwaway certificate and key, made here: the
signed .exe files and MSI verify against the certificate (osslsigncode), the
signature of SHA256SUMS against the key (gpg).
"""

import os
import shutil
import subprocess
import tempfile
import unittest

SOURCE = os.environ["MODEL_SOURCE_DIR"]
SIGN = os.path.join(SOURCE, "scripts", "sign.sh")
# What scripts/package.sh signs with Authenticode.
SIGNED = [p for p in (os.environ["MODEL_BIN"],
                      os.environ.get("MODEL_CAPTURE_BIN", ""),
                      os.environ.get("MODEL_MSI", "")) if p]


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, check=False,
                          timeout=120, **kwargs)


class Signing(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="model-sign-")
        t = cls.tmp
        cls.env = dict(os.environ, GNUPGHOME=os.path.join(t, "gnupg"),
                       MODEL_SIGN_PKCS12=os.path.join(t, "code.p12"),
                       MODEL_SIGN_PASSWORD_FILE=os.path.join(t, "password"),
                       MODEL_GPG_KEY="release@model.invalid")
        os.mkdir(cls.env["GNUPGHOME"], 0o700)
        with open(cls.env["MODEL_SIGN_PASSWORD_FILE"], "w") as f:
            f.write("throwaway\n")
        for args in (
                ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                 "-keyout", f"{t}/key.pem", "-out", f"{t}/cert.pem",
                 "-days", "2", "-subj", "/CN=model test signer",
                 "-addext", "extendedKeyUsage=codeSigning"],
                ["openssl", "pkcs12", "-export", "-inkey", f"{t}/key.pem",
                 "-in", f"{t}/cert.pem", "-out", cls.env["MODEL_SIGN_PKCS12"],
                 "-passout", "file:" + cls.env["MODEL_SIGN_PASSWORD_FILE"]],
                ["gpg", "--batch", "--passphrase", "", "--quick-gen-key",
                 cls.env["MODEL_GPG_KEY"], "ed25519", "sign", "1d"]):
            done = run(args, env=cls.env)
            if done.returncode != 0:
                raise RuntimeError(f"{args[:2]}: {done.stderr}")

    @classmethod
    def tearDownClass(cls):
        run(["gpgconf", "--kill", "all"], env=cls.env)
        shutil.rmtree(cls.tmp)

    def sign(self, *args):
        done = run([SIGN, *args], env=self.env)
        self.assertEqual(done.returncode, 0, done.stderr)

    def test_authenticode(self):
        for original in SIGNED:
            name = os.path.basename(original)
            with self.subTest(name):
                path = os.path.join(self.tmp, name)
                shutil.copyfile(original, path)
                self.sign("authenticode", path)
                done = run(["osslsigncode", "verify", "-CAfile",
                            os.path.join(self.tmp, "cert.pem"), "-in", path])
                self.assertEqual(done.returncode, 0, done.stdout)
                self.assertIn("Signature verification: ok", done.stdout)

    def test_gnupg(self):
        sums = os.path.join(self.tmp, "SHA256SUMS")
        with open(sums, "w") as f:
            f.write("0" * 64 + "  model.deb\n")
        self.sign("gpg", sums)
        done = run(["gpg", "--batch", "--verify", sums + ".asc", sums],
                   env=self.env)
        self.assertEqual(done.returncode, 0, done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
