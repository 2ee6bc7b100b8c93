#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/, one small file per seed,
in the input layouts that the targets' header comments describe. Run it again
after changing a layout."""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u16(n):
    return struct.pack('<H', n)


def wide(text):
    return text.encode('utf-16-le')


def tokenizer():
    def seed(delims, text):
        return bytes([len(delims)]) + delims + text
    return {
        'requests': seed(b' ', b'Win32_BIOS;SerialNumber  Win32_CDROMDrive;;DeviceID'),
        'request': seed(b';', b';;A;;B;C;'),
        'empty_set': seed(b'', b'whole text'),
        'high_bytes': seed(b'\x80\xff ', b'a\x80b\xffc d\xfe'),
        'only_delims': seed(b'_', b'______'),
    }


def cdrom():
    def seed(pattern, text):
        return bytes([len(pattern)]) + pattern + text
    return {
        'example': seed(b'\\', b'"IDE\\CDROMVENDOR_DVD-RW_DRIVE_X1__________________'
                              b'1.00____\\5&1A2B3C4D&0&0.0.0"'),
        'first_dropped': seed(b'"IDE', b'"IDE\\CDROM\\5&1_X"'),
        'other_bus': seed(b'CDROM', b'"SCSI\\CDROM&VEN_X\\4&1"'),
        'shift_jis': seed(b'\\', b'\x83\\"IDE\\CDROM\x95\\_A'),
    }


def format_value():
    def scalar(vt, fmt, value):
        return u16(vt) + struct.pack('<' + fmt, value).ljust(8, b'\0')
    return {
        'null': u16(1),
        'i2': scalar(2, 'h', -1),
        'i4': scalar(3, 'i', -2147483648),
        'r4': scalar(4, 'f', 0.1),
        'r8': scalar(5, 'd', 1e300),
        'bstr': u16(8) + b'\0' + wide('IDE\\CDROMX_1.0\0tail'),
        'bstr_null': u16(8) + b'\1',
        'bool': scalar(11, 'h', -1),
        'ui1': scalar(17, 'B', 255),
        'array': u16(0x2008),
        'byref': scalar(0x4003, 'i', 0),
    }


def format_bounded():
    def integer(flags, width, precision, pick, value):
        return bytes([1, flags, width, precision, pick]) + struct.pack('<i', value)

    def real(flags, width, precision, value):
        return bytes([2, flags, width, precision]) + struct.pack('<d', value)

    def string(text, width=0, flags=0):
        return bytes([3, flags, width, 0, len(text)]) + wide(text)

    def literal(text):
        return bytes([0, len(text)]) + wide(text)

    hu = integer(0, 0, 255, 2 | 8, 0)      # %hu
    return {
        # The formats the system uses, with room and without.
        'i2': u16(64) + integer(0, 0, 255, 2 | 8, -1) + literal(' (0x')
              + integer(0, 0, 255, 4 | 8, -1) + literal(')'),
        'i4': u16(64) + integer(0, 0, 255, 0, -1) + literal(' (0x')
              + integer(0, 0, 255, 4, -1) + literal(')'),
        'r8': u16(698) + real(0, 10, 4, -1.7976931348623157e308),
        'r8_cut': u16(9) + real(0, 10, 4, 3.5),
        'bstr': u16(2 * 5 + 6) + literal('"') + string('hello') + literal('"'),
        'ui1': u16(64) + literal("'") + integer(0, 0, 255, 5, 65)
               + literal("' (") + hu + literal(', 0x')
               + integer(0, 0, 255, 4 | 8, 65) + literal(')'),
        # Limits of the buffer.
        'size0': u16(0) + literal('x'),
        'size1': u16(1) + literal('x'),
        'size2': u16(2) + literal('x'),
        'flags': u16(200) + integer(1 | 2 | 4 | 8, 12, 3, 0, -42)
                 + integer(2 | 16, 1, 255, 3, 255) + real(4, 0, 255, float('nan')),
        'null_string': u16(40) + bytes([3, 1, 9, 0, 255]),
        'unknown': u16(40) + literal('ab') + bytes([4, 1]),
        'percent': u16(40) + literal('100%'),
    }


def fixture(name):
    with open(os.path.join(HERE, '..', 'tests', 'fixtures', name), 'rb') as f:
        return f.read()


def mof():
    small = (b'class A { string S; sint32 N[]; object O; A ref R; };\n'
             b'[FailNext(0x80041001)] instance of A { S = "x" "y\\x41"; N = {1, -2}; '
             b'O = instance of A { S = "c"; }; };\n'
             b'class B : A { char16 C = \'q\'; real64 D = -2.25e3; };\n'
             b'instance of B { C = 65; };\n')
    # What the WMI compiler reads beyond that: pragmas, qualifier
    # declarations, methods, overrides, updates, aliases, undeclared classes
    # and the number forms.
    compiler = (rb'#pragma namespace("\\\\.\\root")' b'\n'
                b'instance of __Namespace { Name = "x"; };\n'
                b'#pragma namespace("x")\n#pragma namespace("//./root/cimv2")\n'
                b'#PRAGMA autorecover\n#pragma locale("en_US")\n'
                b'#pragma classflags("forceupdate")\n'
                b'Qualifier Q : uint8[] = {1}, Scope(any), Flavor(Amended);\n'
                b'[Abstract] class Base : Unknown { [key] string K; uint32 U = 017; real32 R2; };\n'
                b'class Derived : Base { uint32 U = 101b; uint8 F[4]; Base E; object ref R;'
                b' [EmbeddedInstance("Base")] string I;'
                b' uint32 M([in] string A, [out] Base ref B[] = {}); void V(); };\n'
                b'instance of __Win32Provider as $P { Name = "p"; };\n'
                b'instance of __InstanceProviderRegistration { provider = $P; };\n'
                b'instance of Derived as $D { K = "d"; R = $Later; I = instance of Base'
                b' { K = "i"; }; E = $P; };\n'
                b'instance of Base as $Later { K = "l"; U = +0x5; R2 = .5e1; };\n'
                b'instance of Disk { Size = "4581445632"; Type = 3; Tags = {"a", NULL};'
                b' Ok = TRUE; Link = $D; };\n'
                b'class Base { [key] string K; uint32 U; string New; };\n'
                b'#pragma deleteinstance("Base.K=\'l\'", NOFAIL)\n'
                b'#pragma deleteclass("Disk", FAIL)\n')
    with open(os.path.join(HERE, '..', 'tests', 'fixtures', 'world', 'wmi-docs',
                           'getobjecttext-logicaldisk.mof'), 'rb') as f:
        text = f.read()
    return {
        'machine': b'SELECT * FROM Win32_CDROMDrive\n' + fixture('machine.mof'),
        'values': b'SELECT * FROM Model_Values\n' + fixture('values.mof'),
        'failures': b'SELECT A FROM Model_BadProperty\n' + fixture('failures.mof'),
        'broken': b'SELECT Model FROM Win32_ComputerSystem\n' + fixture('broken.mof'),
        'small': b'select S,N from a\n' + small,
        'utf16': b'SELECT S FROM A\n' + b'\xff\xfe' + small.decode().encode('utf-16-le'),
        'truncated': b'SELECT * FROM A\n' + small[:60],
        'subclass': b'SELECT C,D FROM B\n' + small,
        'compiler': b'SELECT * FROM Base\n' + compiler,
        'inferred': b'SELECT * FROM Disk\n' + compiler,
        'windows_1252': b'SELECT S FROM A\n' + small.replace(b'"c"', b'"\x80\xe9"'),
        'object_text': b'SELECT Size,DeviceID FROM Win32_LogicalDisk\n' + text,
    }


def wql():
    return {
        'model': b'SELECT Model FROM Win32_ComputerSystem',
        'star': b'select * from Win32_CDROMDrive',
        'list': b'SELECT DeviceID,Drive , caption FROM Win32_CDROMDrive',
        'where': b'SELECT Drive FROM Win32_CDROMDrive WHERE Drive = "D:"',
        'quotes': b'SELECT Drive" FROM "Win32_CDROMDrive',
        'keyword': b'SELECT FROM FROM C',
    }


def smbios():
    """The machine trees' tables, each after its entry point's length."""
    seeds = {}
    for tree in ('laptop', 'server', 'vm'):
        folder = os.path.join(HERE, '..', 'tests', 'machines', tree, 'sys',
                              'firmware', 'dmi', 'tables')
        with open(os.path.join(folder, 'smbios_entry_point'), 'rb') as f:
            ep = f.read()
        with open(os.path.join(folder, 'DMI'), 'rb') as f:
            seeds[tree] = bytes([len(ep)]) + ep + f.read()
    return seeds


TARGETS = {
    'tokenizer_fuzz': tokenizer,
    'cdrom_fuzz': cdrom,
    'format_value_fuzz': format_value,
    'format_bounded_fuzz': format_bounded,
    'mof_fuzz': mof,
    # MOF text too: what the reader takes is captured and read back.
    'capture_roundtrip_fuzz': mof,
    'wql_fuzz': wql,
    'smbios_fuzz': smbios,
}

if __name__ == '__main__':
    for target, make in TARGETS.items():
        folder = os.path.join(HERE, 'corpus', target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, data in make().items():
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(data)
