"""The Ansible playbook (deploy/ansible/collect.yml) against five inventory
hosts on this machine: two machines, each a tree of its own under
MODEL_FS_ROOT, whose files must arrive each in its own folder with its own
contents; one whose run fails (a repository that does not exist), one whose
run hangs and one that cannot be reached (ssh to a closed port). Those fail
alone, bring home what Model.log they have and keep their earlier files.
The fleet table built from it all is checked in the CSV and, in headless
Chromium, in the page.

Every host gets its copy of the programs in a folder of its own, as the
playbook's copy mode does on real hosts. The capture tool is a stand-in that
writes a fixed document per host, so that the table's cells are known.
"""

import csv
import json
import os
import re
import socket
import shutil
import subprocess
import sys
import tempfile
import unittest

import browser

BIN = os.environ["MODEL_BIN"]
PLAYBOOK = os.path.join(os.environ["MODEL_SOURCE_DIR"], "deploy", "ansible",
                        "collect.yml")
MACHINES = os.path.join(os.environ["MODEL_TESTS_DIR"], "machines")
REQUESTS = ["Win32_ComputerSystem;Name", "Win32_BIOS;*",
            "Win32_DiskDrive;Model,Size"]
MACHINE_OF = {"alpha": "desktop", "beta": "laptop"}
OS = {"Win32_OperatingSystem": [{"Caption": "Debian 12"}]}
CS = "Win32_ComputerSystem"
# What each host's capture says; delta's is from an earlier run.
CAPTURED = {
    "alpha": dict(OS, Win32_ComputerSystem=[{"Name": "A", "Model": "Desk 7"}],
                  Win32_BIOS=[{"SMBIOSBIOSVersion": "A12", "BIOSVersion":
                               ["X", "A12"], "Embedded": {"k": 1}}],
                  Win32_DiskDrive=[{"Model": "SSD", "Size": "512110190592"},
                                   {"Model": "USB", "Size": None}]),
    "beta": dict(OS, Win32_ComputerSystem=[{"Name": "B", "Model": "Desk 7"}]),
    "delta": {CS: [{"Name": "D", "Model": "Lap 3"}],
              "Win32_BIOS": [{"SMBIOSBIOSVersion": "L01", "Beta": True}]},
}
# Cells of the fleet table, host by host.
CELLS = [
    ("host", "status", "version", "Win32_ComputerSystem.Name",
     "Win32_BIOS.SMBIOSBIOSVersion", "Win32_BIOS.BIOSVersion",
     "Win32_BIOS.Embedded", "Win32_BIOS.Beta", "Win32_DiskDrive.Model",
     "Win32_DiskDrive.Size", "Win32_OperatingSystem.Caption"),
    ("alpha", "ok", "9.9", "A", "A12", "X, A12", '{"k":1}', "", "SSD; USB",
     "512110190592; ", "Debian 12"),
    ("beta", "ok", "9.9", "B", "", "", "", "", "", "", "Debian 12"),
    ("delta", "unreachable", "9.8", "D", "L01", "", "", "TRUE", "", "", ""),
    ("epsilon", "timeout", "", "", "", "", "", "", "", "", ""),
    ("gamma", "failed", "", "", "", "", "", "", "", "", ""),
]
EARLIER = "2026-01-02T03:04:05Z"
# The capture tool's stand-in: the document of its host, with the classes
# it was asked for.
CAPTURE_STUB = """#!%s
import json, os, sys
assert sys.argv[1:3] == ["--json", "-o"], sys.argv
with open(os.environ["FIXTURE"]) as f:
    document = json.load(f)
document["classes"] = {k: v for k, v in document["classes"].items()
                       if k in sys.argv[4:]}
with open(sys.argv[3], "w") as f:
    json.dump(document, f)
""" % sys.executable
HANGING = "#!/bin/sh\nprintf 'hung\\r\\n' >\"$Windir/Model.log\"\nexec sleep 60\n"
PAGE_FACTS = """(() => {
  const rows = () => [...document.querySelectorAll("#fleet tbody tr")];
  const filter = document.getElementById("filter");
  filter.value = "unreachable";
  filter.dispatchEvent(new Event("input"));
  const filtered = rows().filter(r => !r.hidden).map(r => r.cells[0].textContent);
  filter.value = "";
  filter.dispatchEvent(new Event("input"));
  const host = document.querySelector("#fleet th");
  host.click(); host.click();
  return {rows: rows().length, filtered,
          sorted: rows().map(r => r.cells[0].textContent),
          charts: Object.fromEntries([...document.querySelectorAll(".chart")]
            .map(c => [c.id, [...c.querySelectorAll(".bar")].map(
              b => [JSON.parse(b.dataset.key).join(" / "),
                    Number(b.dataset.count)])]))};
})()"""


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
        for name, document in CAPTURED.items():
            fixture = os.path.join(cls.tmp, name + ".json")
            with open(fixture, "w") as f:
                json.dump({"machine": name, "captured": EARLIER,
                           "version": "9.8" if name == "delta" else "9.9",
                           "classes": document}, f)
            hosts.setdefault(name, {"model_environment": {}})
            hosts[name]["model_environment"]["FIXTURE"] = fixture
        hosts["gamma"] = {"model_environment": {
            "MODEL_WMI_REPOSITORY": os.path.join(cls.tmp, "missing.mof")}}
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            closed_port = s.getsockname()[1]
        hosts["delta"].update(ansible_connection="ssh",
                              ansible_host="127.0.0.1",
                              ansible_port=closed_port)
        hosts["epsilon"] = {"model_binary": os.path.join(cls.tmp, "hang"),
                            "model_timeout": 1}
        for name, text in (("hang", HANGING), ("capture", CAPTURE_STUB)):
            with open(os.path.join(cls.tmp, name), "w") as f:
                f.write(text)
            os.chmod(os.path.join(cls.tmp, name), 0o755)
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
        group_vars["model_capture_binary"] = os.path.join(cls.tmp, "capture")
        inventory = os.path.join(cls.tmp, "inventory.json")
        with open(inventory, "w") as f:
            json.dump({"linux": {"hosts": hosts, "vars": group_vars}}, f)
        # Earlier collections: alpha's must be replaced as a whole, delta's
        # kept as it is.
        cls.earlier = {"Model.txt": b"Model = \"Lap 3\"\r\n",
                       "Model.json": json.dumps({"version": "9.8", "classes":
                                                 CAPTURED["delta"]}).encode()}
        for host, files in (("alpha", {"Model.log": b"stale\r\n"}),
                            ("delta", cls.earlier)):
            os.makedirs(os.path.join(cls.tmp, "collected", host))
            files = dict(files, **{"status.json": json.dumps(
                {"status": "ok", "collected": EARLIER}).encode()})
            for name, data in files.items():
                with open(os.path.join(cls.tmp, "collected", host, name),
                          "wb") as f:
                    f.write(data)

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
            "ANSIBLE_SSH_CONTROL_PATH_DIR": os.path.join(cls.tmp, "cp"),
        })
        cls.env = env
        # The temporary folder as working directory, so that no ansible.cfg
        # of the caller's takes part.
        cls.done = subprocess.run(
            ["ansible-playbook", "-i", inventory, PLAYBOOK], cwd=cls.tmp,
            env=env, capture_output=True, text=True, timeout=540, check=False)
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
            if name in ("status.json", "failed"):
                continue
            with open(os.path.join(folder, name), "rb") as f:
                found[name] = f.read()
        return found

    def status(self, host):
        with open(os.path.join(self.tmp, "collected", host,
                               "status.json")) as f:
            return json.load(f)

    def test_only_the_failed_runs_fail_their_hosts(self):
        self.assertEqual(self.done.returncode, 2, self.done.stdout)
        self.assertEqual({h: r.get("failed") for h, r in self.recap.items()},
                         {"alpha": "0", "beta": "0", "gamma": "1",
                          "delta": "1", "epsilon": "1"}, self.done.stdout)

    def test_each_host_brings_its_own_results(self):
        for host, machine in MACHINE_OF.items():
            with self.subTest(host=host):
                want = direct_run(machine, os.path.join(self.tmp, host + ".w"))
                # An empty Model.log is not fetched.
                self.assertEqual(self.collected(host).keys(),
                                 {"Model.txt", "Model.json"})
                self.assertEqual(self.collected(host)["Model.txt"], want)
        self.assertNotEqual(self.collected("alpha"), self.collected("beta"))

    def test_failed_hosts_bring_their_log_and_keep_earlier_files(self):
        for host, kept, log in (
                ("gamma", {}, b"Failed to connect. Error code = 8004100E\r\n\r\n"),
                ("epsilon", {}, b"hung\r\n"),
                ("delta", self.earlier, None)):
            with self.subTest(host=host):
                self.assertEqual(self.collected(host), kept)
                self.assertEqual(self.collected(host + "/failed"),
                                 {"Model.log": log} if log else {})
                self.assertEqual(self.status(host)["collected"],
                                 EARLIER if kept else None)
        self.assertIn(EARLIER, self.status("delta")["message"])

    def test_fleet_table_and_page(self):
        with open(os.path.join(self.tmp, "collected", "fleet.csv"),
                  newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        where = [rows[0].index(name) for name in CELLS[0]]
        self.assertEqual([tuple(r[i] for i in where) for r in rows],
                         CELLS)
        self.assertEqual([r[2] for r in rows[1:] if r[0] == "delta"],
                         [EARLIER])
        if not browser.CHROMIUM:
            self.skipTest("chromium is not installed")
        errors, urls, facts = browser.visit(
            os.path.join(self.tmp, "collected", "fleet.html"), PAGE_FACTS)
        self.assertEqual((errors, [u[:7] for u in urls]), ([], ["file://"]))
        self.assertEqual(facts["rows"], len(rows) - 1)
        self.assertEqual(facts["filtered"], ["delta"])
        self.assertEqual(facts["sorted"], sorted(facts["sorted"], reverse=True))
        want = {}
        for chart, columns in (("model", [CS + ".Model"]),
                               ("bios", [CS + ".Model",
                                         "Win32_BIOS.SMBIOSBIOSVersion"]),
                               ("system", ["Win32_OperatingSystem.Caption"])):
            count = want.setdefault("chart-" + chart, {})
            for row in rows[1:]:
                key = " / ".join(row[rows[0].index(c)] or "(unknown)"
                                 for c in columns)
                count[key] = count.get(key, 0) + 1
        self.assertEqual({c: dict(bars) for c, bars in facts["charts"].items()},
                         want)

    def test_run_without_hosts_fails_clearly(self):
        done = subprocess.run(
            ["ansible-playbook", "-i", os.path.join(self.tmp, "missing.yml"),
             PLAYBOOK], cwd=self.tmp, env=self.env, capture_output=True,
            text=True, timeout=120, check=False)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("No host to collect from", done.stdout)

    def test_programs_copied_and_run_folders_removed(self):
        for host in ("alpha", "beta", "gamma", "epsilon"):
            folder = os.path.join(self.tmp, "hosts", host)
            self.assertEqual(set(os.listdir(folder)),
                             {"model", "model-capture"})
        # Each run's private folder is gone again.
        self.assertEqual(os.listdir(os.path.join(self.tmp, "hosttmp")), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
