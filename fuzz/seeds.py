#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/.

    fuzz/seeds.py                 the hand-made seeds (registry files, profile
                                  files, T-SQL batches, server messages)
    fuzz/seeds.py --tds BUILD     also the TDS seeds: the traffic of one
                                  db_setup_cli install through FreeTDS,
                                  recorded between the client and the
                                  stand-in of the build folder BUILD

Every seed file is rewritten; nothing else in the folders is touched.
"""

import os
import select
import socket
import struct
import subprocess
import sys
import tempfile
import threading

ROOT = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(ROOT, "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def hex_bytes(data):
    return ",".join("%02x" % b for b in data)


# ---- registry export files ------------------------------------------------------------

SQL = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Microsoft SQL Server"


def multi_sz(names, encoding):
    return b"".join(n.encode(encoding) + "\0".encode(encoding) for n in names) + "\0".encode(encoding)


def registry_seeds():
    instances = hex_bytes(multi_sz(["MSSQLSERVER", "SHOP"], "utf-16-le"))
    v5 = f"""Windows Registry Editor Version 5.00

[{SQL}]
"InstalledInstances"=hex(7):{instances}

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER\\Setup]
"SQLDataRoot"="C:\\\\Program Files\\\\Microsoft SQL Server\\\\MSSQL"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER\\MSSQLServer]
"DefaultDomain"="SHOP-PC"

[{SQL}\\SHOP\\Setup]
"SQLDataRoot"="D:\\\\数据\\\\MSSQL$SHOP"

[{SQL}\\SHOP\\MSSQLServer]
"DefaultDomain"="SHOP-PC"
"""
    write("registry_file", "v5_utf8.reg", v5.replace("\n", "\r\n"))
    write("registry_file", "v5_utf16.reg", b"\xff\xfe" + v5.replace("\n", "\r\n").encode("utf-16-le"))

    # SQL Server 7.0 in a REGEDIT4 file: code page 936 throughout, a hex(2)
    # value and a hex(7) list in the ANSI code page, a value continued over
    # lines.
    root = "C:\\MSSQL7\\数据".encode("gbk")
    regedit4 = (
        b"REGEDIT4\r\n\r\n"
        b"[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\Setup]\r\n"
        b"\"SQLDataRoot\"=hex(2):" + hex_bytes(root + b"\0").encode() + b"\r\n"
        b"\"SQLPath\"=\"C:\\\\MSSQL7\"\r\n\r\n"
        b"[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\MSSQLServer]\r\n"
        b"\"DefaultDomain\"=\"\xc9\xcc\xb5\xea\"\r\n"
        b"\"LoginMode\"=dword:00000002\r\n\r\n"
        b"[" + SQL.encode() + b"]\r\n"
        b"\"InstalledInstances\"=hex(7):" + hex_bytes(multi_sz(["SHOP", "店"], "gbk")[:6]).encode() +
        b",\\\r\n  " + hex_bytes(multi_sz(["SHOP", "店"], "gbk")[6:]).encode() + b"\r\n")
    write("registry_file", "regedit4_cp936.reg", regedit4)

    # Later lines change earlier ones: removed keys and values, defaults,
    # abbreviations, escapes, odd spacing and line ends, lines that fit no rule.
    edits = f"""Windows Registry Editor Version 5.00
; exported for a test
[HKLM\\SOFTWARE\\Microsoft\\Microsoft SQL Server]
@="default"
"InstalledInstances"=hex(7):53,00,48,00,4f,00,50,00,00,00,00,00
"Bin"=hex:01,02,ff,
"Num"=hex(4):2a,00,00,00
"Quoted \\"name\\""="a \\\\ b \\" c"
  "Spaced"  =  "x"

[-{SQL}\\Old]
[{SQL}\\SHOP\\Setup]
"SQLDataRoot"="E:\\\\SQL"
"SQLDataRoot"=-
"SQLDataRoot"=hex(1):45,00,3a,00,5c,00,00,00
[{SQL}\\SHOP\\MSSQLServer\\]
"DefaultDomain"=dword:zz
"DefaultDomain"="X"
[HKEY_NOWHERE\\A]
"a"="b"
[broken
garbage line
"""
    write("registry_file", "edits.reg", edits.replace("\n", "\r"))

    # SQL Server 2005 and later: the instance maps to a versioned key.
    versioned = f"""Windows Registry Editor Version 5.00

[{SQL}]
"InstalledInstances"=hex(7):{hex_bytes(multi_sz(["MSSQLSERVER"], "utf-16-le"))}

[{SQL}\\Instance Names\\SQL]
"MSSQLSERVER"="MSSQL15.MSSQLSERVER"

[{SQL}\\MSSQL15.MSSQLSERVER\\Setup]
"SQLDataRoot"="C:\\\\Program Files\\\\Microsoft SQL Server\\\\MSSQL15.MSSQLSERVER\\\\MSSQL"

[{SQL}\\MSSQL15.MSSQLSERVER\\MSSQLServer\\CurrentVersion]
"CurrentVersion"="15.0.2000.5"
"""
    write("registry_file", "versioned.reg", b"\xef\xbb\xbf" + versioned.encode("utf-8"))


# ---- dbinstall.ini ---------------------------------------------------------------------


def profile_seeds():
    plain = "[database]\r\ndatabasename=shopdb\r\ndataname=shop_data\r\nlogname=shop_log\r\n"
    write("profile_ini", "plain.ini", plain)
    chinese = "[database]\ndatabasename=零售库\ndataname=零售_data\nlogname=零售_log\n"
    write("profile_ini", "utf8_bom.ini", b"\xef\xbb\xbf" + chinese.encode("utf-8"))
    write("profile_ini", "utf16.ini", b"\xff\xfe" + chinese.replace("\n", "\r\n").encode("utf-16-le"))
    write("profile_ini", "cp936.ini", chinese.encode("gbk"))
    tricky = (
        "; settings for the installer\n"
        "# another comment\n"
        "[other]\n"
        "databasename=wrong\n"
        "  [ Database ]  \n"
        "DatabaseName = \"shop db\" \n"
        "databasename=second\n"
        "dataname='shop;data'  ; not a comment\n"
        "   logname : shop_log\n"
        "no separator here\n"
        "[database]\n"
        "logname=later\n"
        "=empty key\n"
        "[" + "s" * 60 + "]\n"
        "key=" + "v" * 300)
    write("profile_ini", "tricky.ini", tricky)


# ---- T-SQL batches ---------------------------------------------------------------------


def sql_seeds():
    batches = {
        "exists.sql": "SELECT name FROM sysdatabases WHERE LOWER ( name ) = @P1",
        "drop.sql": "Drop DATABASE [shop]]db]",
        "droplogin.sql": "sp_droplogin zq",
        "addlogin.sql": "sp_addlogin 'zq','zq'",
        "role.sql": "sp_addsrvrolemember N'zq', sysadmin",
        "create.sql": "CREATE DATABASE [shopdb]  ON PRIMARY (NAME = N'shop_data', FILENAME = "
        "N'C:\\Data\\shopdb_Data.MDF' , SIZE = 1, FILEGROWTH = 10%) LOG ON (NAME = N'shop_log', "
        "FILENAME = N'C:\\Data\\shopdb_Log.LDF' , SIZE = 1, FILEGROWTH = 10%)",
        "defaultdb.sql": "exec sp_defaultdb N'zq', N'shopdb'",
        "restore.sql": "RESTORE DATABASE [shopdb] FROM  DISK = N'C:\\shopdb.dat' WITH  FILE = 1,  "
        "NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'shop_data' TO "
        "N'C:\\Data\\shopdb_Data.MDF', MOVE N'shop_log' TO N'C:\\Data\\shopdb_Log.LDF'",
        "configure.sql": "sp_configure 'allow updates',1\nRECONFIGURE WITH OVERRIDE",
        "filelist.sql": "RESTORE FILELISTONLY FROM DISK = N'C:\\shopdb.dat'",
        "backup.sql": "BACKUP DATABASE [shop]]db] TO DISK = N'D:\\Data\\shop''s_copy.bak' WITH "
        "INIT, STATS = 10, NAME = N'copy', DIFFERENTIAL",
        "checks.sql": "EXEC master.dbo.xp_fileexist N'D:\\Data\\'; EXEC master.dbo.xp_create_subdir "
        "N'D:\\Data'; EXEC master..xp_fixeddrives; SELECT DB_NAME(dbid), filename, size, status "
        "FROM master.dbo.sysaltfiles; RESTORE VERIFYONLY FROM DISK = N'C:\\shopdb.dat' WITH FILE = "
        "1, STATS = 10",
        "misc.sql": "/* nested /* comment */ */ SET NOCOUNT ON; SET TRANSACTION ISOLATION LEVEL "
        "READ COMMITTED\n-- a line comment\nBEGIN TRAN t1 COMMIT TRANSACTION; USE [master]; "
        "PRINT 'a' + N'b'",
        "select.sql": "SELECT TOP (1) d.name AS [db], 1 + -2 * 3 FROM master.sys.databases d "
        "WHERE NOT (d.name IS NULL) AND (d.database_id >= 4 OR d.name <> 'x') ORDER BY name DESC",
        "if.sql": "IF EXISTS_X(SELECT 1) DROP DATABASE IF EXISTS a, [b] ELSE EXEC "
        "dbo.sp_who @loginame = NULL, 0x1F, -5 OUTPUT, DEFAULT",
        "params.sql": "@P1 nvarchar(4000),@P2 int, @P3 decimal(10, 2)",
        "unclosed.sql": "SELECT 'it''s",
        # Past the parser's nesting limit, by parentheses and by a chain.
        "nested.sql": "SELECT " + "(" * 300 + "1" + ")" * 300,
        "chain.sql": "PRINT " + "1 + " * 300 + "1",
    }
    for name, text in batches.items():
        write("sql_parser", name, text)


# ---- diagnostic records for fuzz_server_messages -----------------------------------------


class Provider:
    """Builds input for libFuzzer's FuzzedDataProvider: strings are read from
    the front, numbers and booleans from the back."""

    def __init__(self):
        self.front = bytearray()
        self.back = []  # bytes in the order they are consumed

    def boolean(self, value):
        self.back.append(1 if value else 0)

    def small(self, value):  # ConsumeIntegralInRange over fewer than 256 values
        self.back.append(value)

    def int32(self, value):  # ConsumeIntegral<int32_t>: most significant byte first
        for b in struct.pack(">I", value + 2**31):
            self.back.append(b)

    def raw(self, data):  # ConsumeBytesAsString
        self.front += data

    def string(self, data):  # ConsumeRandomLengthString: '\' doubled, '\' + other ends it
        self.front += data.replace(b"\\", b"\\\\") + b"\\e"

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


STATES = ["01000", "00000", "IM006", "01S02", "42000", "08S01", "HYT01", "HY000", "37000", "08001"]


def messages_seed(steps, success_100=False):
    p = Provider()
    p.boolean(success_100)
    for driver_error, diags in steps:
        p.boolean(driver_error)
        p.small(len(diags))
        for state, native, severity, text in diags:
            if state in STATES:
                p.boolean(True)
                p.small(STATES.index(state))
            else:
                p.boolean(False)
                p.raw(state.encode())
            p.int32(native)
            p.small(severity + 1)
            p.string(text.encode("utf-16-le"))
    return p.data()


def message_seeds():
    progress = [(False, [("01000", 3211, 10, f"[FreeTDS][SQL Server]{n} percent processed.")
                         for n in (10, 20, 30)])]
    progress.append((False, [("01000", 3211, 10, "  100 percent processed.\r\n"),
                             ("01000", 3014, 10, "[FreeTDS][SQL Server]RESTORE DATABASE "
                              "successfully processed 2 pages in 0.001 seconds.")]))
    write("server_messages", "restore_progress", messages_seed(progress))
    write("server_messages", "refused", messages_seed([
        (True, [("42000", 15007, 16, "[FreeTDS][SQL Server]'zq' is not a valid login or you "
                 "do not have permission.")])]))
    write("server_messages", "lost_connection", messages_seed([
        (True, [("01000", 20017, -1, "[FreeTDS][SQL Server]Unexpected EOF from the server"),
                ("08S01", 20004, -1, "[FreeTDS][SQL Server]Read from the server failed")])]))
    write("server_messages", "logon_failed", messages_seed([
        (True, [("28000", 18456, 14, "[FreeTDS][SQL Server]Login failed for user 'sa'."),
                ("08001", 0, -1, "[unixODBC][FreeTDS][SQL Server]Unable to connect to data "
                 "source")])], success_100=True))
    write("server_messages", "informational", messages_seed([
        (False, [("01000", 5701, 10, "[Microsoft][ODBC Driver 17 for SQL Server][SQL Server]"
                  "Changed database context to 'master'."),
                 ("IM006", 0, -1, "[unixODBC][Driver Manager]Driver's SQLSetConnectAttr failed"),
                 ("01000", 15457, 10, "[SQL Server][x] Configuration option 'allow updates' "
                  "changed from 0 to 1.")]),
        (False, [])]))


# ---- TDS traffic -----------------------------------------------------------------------

CAPS = {"7.0": 0, "7.1": 1, "7.2": 2, "7.3": 3, "7.4": 4}


def packet(ptype, payload, status=1):
    return struct.pack(">BBHHBB", ptype, status, len(payload) + 8, 0, 1, 0) + payload


def messages_of(stream):
    """Splits a packet stream into whole messages (lists of packets)."""
    out, current, pos = [], b"", 0
    while pos + 8 <= len(stream):
        length = struct.unpack(">H", stream[pos + 2:pos + 4])[0]
        current += stream[pos:pos + length]
        status = stream[pos + 1]
        pos += length
        if status & 1:
            out.append(current)
            current = b""
    return out


def record_install(build, tds_version):
    """One db_setup_cli install through a recording relay; returns the
    (client bytes, server bytes) of each connection."""
    standin = os.path.join(build, "tools/sqlserver_standin/sqlserver_standin")
    cli = os.path.join(build, "src/cli/db_setup_cli")
    work = tempfile.mkdtemp(prefix="db_setup_seeds.")
    os.makedirs(os.path.join(work, "disk"))
    with open(os.path.join(work, "registry.reg"), "w") as f:
        f.write(f"""Windows Registry Editor Version 5.00

[{SQL}]
"InstalledInstances"=hex(7):{hex_bytes(multi_sz(["MSSQLSERVER"], "utf-16-le"))}

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER\\Setup]
"SQLDataRoot"="C:\\\\MSSQL"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER\\MSSQLServer]
"DefaultDomain"="SEEDS"
""")
    with open(os.path.join(work, "dbinstall.ini"), "w") as f:
        f.write("[database]\ndatabasename=shopdb\ndataname=shop_data\nlogname=shop_log\n")
    subprocess.run([standin, "--make-backup", os.path.join(work, "shopdb.dat"), "shop_data",
                    "shop_log"], check=True)
    server = subprocess.Popen([standin, "--port", "0", "--idle-timeout", "30", "--login",
                               "sa:Seed-pw1:sysadmin", "--database", "shopdb",
                               "--tds-version", tds_version],
                              stdout=subprocess.PIPE, text=True)
    port = int(server.stdout.readline())

    relay = socket.socket()
    relay.bind(("127.0.0.1", 0))
    relay.listen(4)
    relay.settimeout(10)
    recorded = []

    def serve():
        for _ in range(2):  # the install logs on twice
            client, _ = relay.accept()
            upstream = socket.create_connection(("127.0.0.1", port))
            sent, received = bytearray(), bytearray()
            open_ends = {client: (upstream, sent), upstream: (client, received)}
            while open_ends:
                ready, _, _ = select.select(list(open_ends), [], [], 10)
                if not ready:
                    break
                for s in ready:
                    data = s.recv(65536)
                    other, log = open_ends[s]
                    if not data:
                        del open_ends[s]
                        other.shutdown(socket.SHUT_WR)
                        continue
                    log += data
                    other.sendall(data)
            client.close()
            upstream.close()
            recorded.append((bytes(sent), bytes(received)))

    thread = threading.Thread(target=serve)
    thread.start()
    env = dict(os.environ, DB_SETUP_REGISTRY=os.path.join(work, "registry.reg"),
               DB_SETUP_PASSWORD="Seed-pw1")
    subprocess.run([cli, "--yes", "--server", f"127.0.0.1,{relay.getsockname()[1]}",
                    "--backup", os.path.join(work, "shopdb.dat"), "--data-folder",
                    os.path.join(work, "disk")], env=env, cwd=work, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    thread.join()
    server.terminate()
    server.wait()
    relay.close()
    subprocess.run(["rm", "-rf", work], check=True)
    return recorded


def tds_seeds(build):
    for version in ("7.4", "7.1"):
        cap = bytes([CAPS[version]])
        tag = version.replace(".", "")
        for n, (sent, received) in enumerate(record_install(build, version), 1):
            # The whole conversation as the client sent it.
            write("tds_packets", f"install_tds{tag}_conn{n}", cap + sent)
            requests = messages_of(sent)
            logon = b"".join(requests[:2])
            if version == "7.4":
                # Logon and one request at a time, so that each stays small.
                for i, request in enumerate(requests[2:], 1):
                    write("tds_packets", f"request_conn{n}_{i:02d}", cap + logon + request)
            # The server's answers, for the token reader: everything after the
            # PRELOGIN answer.
            answers = messages_of(received)
            write("tds_packets", f"answers_tds{tag}_conn{n}", cap + b"".join(answers[1:]))
            if n == 1 and version == "7.4":
                # Transaction manager requests and an attention, which the
                # installer never sends: begin, commit and begin again, rollback.
                headers = struct.pack("<IIHQI", 22, 18, 2, 0, 1)
                extra = (packet(14, headers + struct.pack("<HB", 5, 0)) +
                         packet(14, headers + struct.pack("<HBB", 7, 0, 1)) +
                         packet(14, headers + struct.pack("<HB", 8, 0)) +
                         packet(1, b"", status=0) + packet(6, b""))
                write("tds_packets", "transactions", cap + logon + extra)


def login7(sspi, user="", password=""):
    """A TDS 7.4 LOGIN7; with `sspi`, a Windows logon (fIntSecurity set)."""
    fields = {"host": "pos1", "user": user, "password": password, "app": "seeds",
              "server": "127.0.0.1", "library": "ODBC", "language": "us_english"}
    base, data, offsets = 94, b"", b""
    for name in ("host", "user", "password", "app", "server", "extension", "library",
                 "language", "database"):
        value = fields.get(name, "").encode("utf-16-le")
        offsets += struct.pack("<HH", base + len(data), len(value) // 2)
        data += value
    offsets += b"\0" * 6  # client id
    end = base + len(data) + len(sspi)
    offsets += struct.pack("<HHHHHHI", base + len(data), len(sspi), end, 0, end, 0, 0)
    flags2 = 0x83 if sspi else 0x03
    head = struct.pack("<IIIIII", 36 + len(offsets) + len(data) + len(sspi), 0x74000004, 4096,
                       0x07000000, 1234, 0) + bytes([0xE0, flags2, 0, 0]) + struct.pack("<iI", 0, 0x409)
    return head + offsets + data + sspi


def ntlm_seed():
    """A Windows logon as FreeTDS makes it: LOGIN7 with an NTLM NEGOTIATE for
    SHOP from pos1, then the AUTHENTICATE of [MS-NLMP] 4.2.4.3 in an SSPI
    message."""
    negotiate = bytes.fromhex("4e544c4d535350000100000001b20800040004002c000000"
                              "04000400280000000501280a0000000f706f733153484f50")
    authenticate = bytes.fromhex(
        "4e544c4d5353500003000000180018006c00000054005400840000000c000c00"
        "480000000800080054000000100010005c00000010001000d8000000358288e2"
        "0501280a0000000f44006f006d00610069006e00550073006500720043004f00"
        "4d005000550054004500520086c35097ac9cec102554764a57cccc19aaaaaaaa"
        "aaaaaaaa68cd0ab851e51c96aabc927bebef6a1c010100000000000000000000"
        "00000000aaaaaaaaaaaaaaaa0000000002000c0044006f006d00610069006e00"
        "01000c005300650072007600650072000000000000000000c5dad2544fc97990"
        "94ce1ce90bc9d03e")
    cap = bytes([CAPS["7.4"]])
    write("tds_packets", "windows_logon", cap + packet(16, login7(negotiate)) +
          packet(17, authenticate))


def main():
    registry_seeds()
    profile_seeds()
    sql_seeds()
    message_seeds()
    ntlm_seed()
    if len(sys.argv) == 3 and sys.argv[1] == "--tds":
        tds_seeds(os.path.abspath(sys.argv[2]))
    elif len(sys.argv) != 1:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
