"""scripts/sign.sh with a throwaway certificate and GnuPG key made here: the
signed .exe files and MSI pass osslsigncode's verification against the
certificate, the signature of SHA256SUMS passes gpg's."""

import os
import shutil
import subprocess
import tempfile
import unittest

SIGN = os.path.join(os.environ["MODEL_SOURCE_DIR"], "scripts", "sign.sh")
# What scripts/package.sh signs with Authenticode.
SIGNED = [p for p in (os.environ["MODEL_BIN"], os.environ["MODEL_MSI"],
                      os.environ.get("MODEL_CAPTURE_BIN", "")) if p]


class Signing(unittest.TestCase):

    def setUp(self):
        t = self.tmp = tempfile.mkdtemp(prefix="model-sign-")
        self.env = dict(os.environ, GNUPGHOME=f"{t}/gnupg",
                        MODEL_SIGN_PKCS12=f"{t}/code.p12",
                        MODEL_SIGN_PASSWORD_FILE=f"{t}/password",
                        MODEL_GPG_KEY="release@model.invalid")
        os.mkdir(f"{t}/gnupg", 0o700)
        with open(f"{t}/password", "w") as f:
            f.write("throwaway\n")
        self.run_ok("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", f"{t}/key.pem", "-out", f"{t}/cert.pem",
                    "-days", "2", "-subj", "/CN=model test signer",
                    "-addext", "extendedKeyUsage=codeSigning")
        self.run_ok("openssl", "pkcs12", "-export", "-inkey", f"{t}/key.pem",
                    "-in", f"{t}/cert.pem", "-out", f"{t}/code.p12",
                    "-passout", f"file:{t}/password")
        self.run_ok("gpg", "--batch", "--passphrase", "", "--quick-gen-key",
                    "release@model.invalid", "ed25519", "sign", "1d")

    def tearDown(self):
        subprocess.run(["gpgconf", "--kill", "all"], env=self.env, check=False)
        shutil.rmtree(self.tmp)

    def run_ok(self, *args):
        done = subprocess.run(args, capture_output=True, text=True,
                              env=self.env, check=False, timeout=120)
        self.assertEqual(done.returncode, 0, f"{args}: {done.stdout}"
                         f"{done.stderr}")
        return done.stdout

    def test_authenticode_and_gnupg(self):
        for original in SIGNED:
            path = os.path.join(self.tmp, os.path.basename(original))
            shutil.copyfile(original, path)
            self.run_ok(SIGN, "authenticode", path)
            self.assertIn("Signature verification: ok", self.run_ok(
                "osslsigncode", "verify", "-CAfile", f"{self.tmp}/cert.pem",
                "-in", path))
        sums = os.path.join(self.tmp, "SHA256SUMS")
        with open(sums, "w") as f:
            f.write("0" * 64 + "  model.deb\n")
        self.run_ok(SIGN, "gpg", sums)
        self.run_ok("gpg", "--batch", "--verify", sums + ".asc", sums)


if __name__ == "__main__":
    unittest.main(verbosity=2)
