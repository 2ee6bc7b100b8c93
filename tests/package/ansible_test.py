"""The Ansible playbook (deploy/ansible/collect.yml) against three inventory
hosts on this machine, local connection: two machines, each a tree of its
own under MODEL_FS_ROOT, whose files must arrive each in its own folder with
its own contents, and one whose run fails (a repository that does not exist),
which must fail that host alone and still bring its Model.log home.

Every host gets its copy of the program in a folder of its own, as the
playbook's copy mode does on real hosts.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = os.environ["MODEL_BIN"]
CAPTURE = os.environ.get("MODEL_CAPTURE_BIN", "")
PLAYBOOK = os.path.join(os.environ["MODEL_SOURCE_DIR"], "deploy", "ansible",
                        "collect.yml")
MACHINES = os.path.join(os.environ["MODEL_TESTS_DIR"], "machines")
REQUESTS = ["Win32_ComputerSystem;Name", "Win32_BIOS;*"]
MACHINE_OF = {"alpha": "desktop", "beta": "laptop"}


def direct_run(machine, windir):
    """Model.txt of the program run here over a machine tree."""
    os.mkdir(windir)
    env = {"PATH": os.environ["PATH"], "Windir": windir, "TZ": "UTC0",
           "MODEL_FS_ROOT": os.path.join(MACHINES, machine)}
    subprocess.run([BIN] + REQUESTS, env=env, check=True, timeout=60)
    with open(os.path.join(windir, "Model.txt"), "rb") as f:
        return f.read()


class Playbook(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="model-ansible-")
        hosts = {name: {"model_environment": {
                     "MODEL_FS_ROOT": os.path.join(MACHINES, machine),
                     "TZ": "UTC0"}}
                 for name, machine in MACHINE_OF.items()}
        hosts["gamma"] = {"model_environment": {
            "MODEL_WMI_REPOSITORY": os.path.join(cls.tmp, "missing.mof")}}
        group_vars = {
            "ansible_connection": "local",
            "ansible_python_interpreter": sys.executable,
            "model_become": False,
            "model_binary": BIN,
            "model_install_dir": os.path.join(cls.tmp, "hosts",
                                              "{{ inventory_hostname }}"),
            "model_collect_dir": os.path.join(cls.tmp, "collected"),
            "model_requests": REQUESTS,
        }
        if CAPTURE:
            group_vars["model_capture_binary"] = CAPTURE
        inventory = os.path.join(cls.tmp, "inventory.json")
        with open(inventory, "w") as f:
            json.dump({"linux": {"hosts": hosts, "vars": group_vars}}, f)
        # A stale file from an earlier collection, which must not survive.
        os.makedirs(os.path.join(cls.tmp, "collected", "alpha"))
        with open(os.path.join(cls.tmp, "collected", "alpha", "Model.log"),
                  "w") as f:
            f.write("left by an earlier run\n")

        # Local connection: the hosts' modules inherit this environment, so
        # the runs' private folders are made in the test's own TMPDIR.
        os.mkdir(os.path.join(cls.tmp, "hosttmp"))
        env = dict(os.environ)
        env.update({
            "TMPDIR": os.path.join(cls.tmp, "hosttmp"),
            "ANSIBLE_LOCAL_TEMP": os.path.join(cls.tmp, "ansible-local"),
            "ANSIBLE_REMOTE_TEMP": os.path.join(cls.tmp, "ansible-remote"),
            "ANSIBLE_NOCOLOR": "1",
            "ANSIBLE_RETRY_FILES_ENABLED": "0",
        })
        # The temporary folder as working directory, so that no ansible.cfg
        # of the caller's takes part.
        cls.done = subprocess.run(
            ["ansible-playbook", "-i", inventory, PLAYBOOK], cwd=cls.tmp,
            env=env, capture_output=True, text=True, timeout=240, check=False)
        cls.recap = {m[0]: dict(re.findall(r"(\w+)=(\d+)", m[1]))
                     for m in re.findall(r"^(\w+)\s+: (ok=.*)$",
                                         cls.done.stdout, re.M)}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def collected(self, host):
        folder = os.path.join(self.tmp, "collected", host)
        found = {}
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), "rb") as f:
                found[name] = f.read()
        return found

    def test_only_the_failed_run_fails_its_host(self):
        self.assertEqual(self.done.returncode, 2, self.done.stdout)
        self.assertEqual({h: r.get("failed") for h, r in self.recap.items()},
                         {"alpha": "0", "beta": "0", "gamma": "1"},
                         self.done.stdout)

    def test_each_host_brings_its_own_results(self):
        for host, machine in MACHINE_OF.items():
            with self.subTest(host=host):
                want = direct_run(machine, os.path.join(self.tmp, host + ".w"))
                # An empty Model.log is not fetched.
                self.assertEqual(self.collected(host), {"Model.txt": want})
        self.assertNotEqual(self.collected("alpha"), self.collected("beta"))

    def test_failed_host_brings_its_log(self):
        self.assertEqual(
            self.collected("gamma"),
            {"Model.log": b"Failed to connect. Error code = 8004100E\r\n\r\n"})

    def test_programs_copied_and_run_folders_removed(self):
        for host in ("alpha", "beta", "gamma"):
            folder = os.path.join(self.tmp, "hosts", host)
            want = {"model"} | ({"model-capture"} if CAPTURE else set())
            self.assertEqual(set(os.listdir(folder)), want)
        # Each run's private folder is gone again.
        self.assertEqual(os.listdir(os.path.join(self.tmp, "hosttmp")), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
