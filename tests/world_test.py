"""Public MOF files, as their authors wrote them, read through the program.

Each run names one or more repository files, separated by ':': a file of
tests/fixtures/world/ (see SOURCES there), and, around it, small files of
this test that declare what the public file leaves out (a superclass, the
included schema) or add an instance of a class the public file declares, so
that its values show in Model.txt.
"""

import os
import shutil
import unittest

import modeltest
from modeltest import FIXTURES, read, scratch, write

WORLD = os.path.join(FIXTURES, "world")

# Every run starts with this file, so that the program's own first request
# has its answer and the log holds only what a case expects.
SYSTEM = ('class Win32_ComputerSystem { string Model; };\n'
          'instance of Win32_ComputerSystem { Model = "World"; };\n')
MODEL = 'Model = "World"'


def world(name):
    return os.path.join(WORLD, name)


def query_failed(query, status):
    return "Failed to execute the WMI Query: %s. Error code = %s" % (query, status)


# name, repository files (a path of world/ or MOF text of this test),
# requests, lines of Model.txt after the model's, messages of Model.log.
CASES = [
    ("GetObjectText of an undeclared class, typed from its values",
     [world("wmi-docs/getobjecttext-logicaldisk.mof")],
     ["Win32_LogicalDisk;Size,DeviceID,Compressed,DriveType,VolumeSerialNumber"],
     ['Compressed = FALSE', 'DeviceID = "C:"', "DriveType = 3 (0x3)",
      'Size = "4581445632"', 'VolumeSerialNumber = "7CB4B90E"',
      "Compressed = <null>", 'DeviceID = "C:"', "DriveType = 3 (0x3)",
      "Size = <null>", "VolumeSerialNumber = <null>"], []),
    ("provider registration through an alias",
     [world("classic-samples/InstProv.Mof"),
      "instance of InstProvSamp { MyValue = 0x2A; };"],
     ["__InstanceProviderRegistration;provider,SupportsGet,SupportsPut",
      "__Win32Provider;Name,CLSID,Pure", "InstProvSamp;*"],
     ['provider = "__Win32Provider.Name="InstProvSamp""', "SupportsGet = TRUE",
      "SupportsPut = FALSE", 'Name = "InstProvSamp"',
      'CLSID = "{22CB8761-914A-11cf-B705-00AA0062CBB7}"', "Pure = TRUE",
      'MyKey = "HELLO"', "MyValue = 42 (0x2A)"], []),
    ("methods are not properties",
     [world("classic-samples/MethProv.Mof")],
     ["__MethodProviderRegistration;provider", "MethProvSamp;Echo"],
     ['provider = "__Win32Provider.Name="MethProv""'],
     [query_failed("SELECT Echo FROM MethProvSamp", "WBEM_E_INVALID_QUERY")]),
    ("a namespace made and entered",
     [world("classic-samples/SampleViewer.Mof")],
     ["__Namespace;Name", "SampleViewerConsumer;Name"],
     ['Name = "SAMPLE_Office"'],
     [query_failed("SELECT Name FROM SampleViewerConsumer", "WBEM_E_INVALID_CLASS")]),
    ("a namespace path with forward slashes",
     [world("classic-samples/Registry.Mof")],
     ["RegTrans;Name"], [],
     [query_failed("SELECT Name FROM RegTrans", "WBEM_E_INVALID_CLASS")]),
    ("a driver's classes: fixed arrays, embedded classes, void methods",
     [world("driver-samples/wmisamp.mof"),
      'instance of WmiSampleClass1 { InstanceName = "A"; Active = TRUE;'
      ' Xuint8 = 017; Xuint16 = 101b; Xuint64 = "18446744073709551615";'
      ' Xint8 = -0x80; Xint64 = "-9223372036854775808"; };'],
     ["WmiSampleClass1;InstanceName,Xuint8,Xuint16,Xuint64,Xint8,Xint64"],
     ['InstanceName = "A"', "Xuint8 = 15 (0xF)", "Xuint16 = 5 (0x5)",
      'Xuint64 = "18446744073709551615"', "Xint8 = 65408 (0xFF80)",
      'Xint64 = "-9223372036854775808"'], []),
    ("upper-case pragma, joined strings in a qualifier, unknown superclass",
     [world("driver-samples/toaster.mof"),
      'instance of ToasterDeviceInformation { InstanceName = "T"; Active = TRUE;'
      ' ConnectorType = 3; ModelName = "Eagle"; };'],
     ["ToasterDeviceInformation;ConnectorType,ModelName,Active",
      "ToasterNotifyDeviceArrival;ModelName"],
     ["Active = TRUE", "ConnectorType = 3 (0x3)", 'ModelName = "Eagle"'], []),
    ("a CIM schema class: an override in place of the inherited property",
     ['class CIM_System { [key] string Name; string NameFormat = "Other";'
      ' string ElementName; };',
      world("dmtf-cim/CIM_ComputerSystem.mof"),
      'instance of CIM_ComputerSystem { Name = "box"; ElementName = "Box";'
      ' ResetCapability = 4; };'],
     ["CIM_System;*", "CIM_ComputerSystem;ResetCapability"],
     # A query of the superclass gives the instance as its own class does.
     ['Name = "box"', 'NameFormat = "Other"', 'ElementName = "Box"',
      "Dedicated = <null>", "OtherDedicatedDescriptions = <null>",
      "ResetCapability = 4 (0x4)", "PowerManagementCapabilities = <null>",
      "ResetCapability = 4 (0x4)"], []),
    ("qualifier declarations and a plain redeclaration",
     [world("omi-tests/quals.mof"),
      'instance of Y { A = "a"; B = "b"; C = "c"; };'],
     ["X;*", "Y;*"],
     ['A = "a"', 'B = "b"', 'C = "c"', 'A = "a"', 'B = "b"', 'C = "c"'], []),
    ("a configuration document: aliases to undeclared classes",
     [world("dsc/localhost-credential.mof")],
     ["MSFT_GroupResource;ResourceID,Credential,GroupName", "MSFT_Credential;UserName"],
     ['ResourceID = "[Group]DomainUserToLocalGroup"',
      'Credential = "MSFT_Credential=@"', 'GroupName = "ApplicationAdmins"',
      'UserName = "Administrator"'], []),
    ("deleteclass before each class, values a property provider supplies",
     [world("mdop-docs/mbam-configuration.mof")],
     ["Win32Reg_MBAMPolicy;KeyName,OsDriveEncryption", "CCM_ComputerSystemExtended;Name"],
     ['KeyName = "BitLocker policy"', "OsDriveEncryption = <null>"], []),
]


class WorldTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.dir = scratch(self)
        self.windir = os.path.join(self.dir, "win")
        os.makedirs(self.windir)
        self.count = 0

    def file(self, text, name=None):
        self.count += 1
        path = os.path.join(self.dir, name or "part%d.mof" % self.count)
        write(path, text if isinstance(text, bytes) else text.encode())
        return path

    def run_model(self, files, requests):
        paths = [self.file(SYSTEM)]
        paths += [f if f.startswith(WORLD) or f.startswith(self.dir) else self.file(f)
                  for f in files]
        for name in ("Model.txt", "Model.log"):
            if os.path.exists(os.path.join(self.windir, name)):
                os.unlink(os.path.join(self.windir, name))
        done = modeltest.run(requests, self.windir, MODEL_WMI_REPOSITORY=":".join(paths))
        return (done.code, done.stderr.decode(), (done.txt or b"").decode(),
                (done.log or b"").decode())

    def check(self, files, requests, lines, messages):
        code, stderr, txt, log = self.run_model(files, requests)
        self.assertEqual(
            (code, stderr, txt, log),
            (0, "", "".join(line + "\r\n" for line in [MODEL] + lines),
             "".join(message + "\r\n\r\n" for message in messages)))

    def test_public_files(self):
        for name, files, requests, lines, messages in CASES:
            with self.subTest(name):
                self.check(files, requests, lines, messages)

    def test_utf16_as_powershell_writes_it(self):
        text = read(world("dsc/localhost-credential.mof")).decode()
        utf16 = self.file(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))
        self.check([utf16], ["MSFT_Credential;UserName,Password"],
                   ['Password = "ThisIsAPlaintextPassword"', 'UserName = "Administrator"'], [])

    def test_included_schema(self):
        # Sample.mof includes the CIM schema and Microsoft's qualifiers from
        # beside it; without them it is refused where it includes them.
        sample = os.path.join(self.dir, "Sample.mof")
        shutil.copy(world("classic-samples/Sample.mof"), sample)
        code, stderr, txt, _ = self.run_model([sample], [])
        self.assertEqual((code, txt), (1, ""))
        self.assertEqual(stderr, "%s:10:18: cannot include %s: No such file or directory\n"
                         % (sample, os.path.join(self.dir, "cim_schema_2.26.0.mof")))
        self.file("class CIM_Process { [key] string Handle; string Name; };\n"
                  "class CIM_Service { [key] string Name; };\n", "cim_schema_2.26.0.mof")
        self.file("// the qualifiers are declared by WMI itself\n", "MSFT_Qualifiers.mof")
        self.check([sample, 'instance of MSFT_WindowsProcess { Handle = "4"; Name = "System";'
                            ' CommandLine = "init"; };'],
                   ["CIM_Process;*", "MSFT_WindowsProcess;*"],
                   ['Handle = "4"', 'Name = "System"', 'CommandLine = "init"',
                    'Handle = "4"', 'Name = "System"', 'CommandLine = "init"'], [])


if __name__ == "__main__":
    unittest.main()
