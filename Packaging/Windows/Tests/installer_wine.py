#!/usr/bin/env python3
"""The Windows installer under Wine, in a fresh prefix of its own, used as a
user uses it: a silent install, the installed client started from its
folder and closed, an upgrade over an older version, an update offered by
the local server and carried out by the real updater, and a silent uninstall.

Usage: installer_wine.py <velto-setup.exe> <wine-run> <makensis> <velto.nsi> <build-values.nsh> <version>
                         <updater.exe>
Runs under Scripts/with-test-server --port <the client's port>, on the test
display (Scripts/with-display). The older and the newer installer are built
here from the same files with another version. Exits 77 (skipped) when the
host cannot run 32-bit Windows programs."""

import ctypes
import getpass
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "App", "Tests"))
from client_window_wine import eventually, main, sh, stop  # noqa: E402

INSTALLER, WINE_RUN, MAKENSIS, SCRIPT, BUILD_VALUES, VERSION, UPDATER = (sys.argv[1:8] + [""] * 7)[:7]
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velto"
MAIN = "^Velto Чат"
QUESTION = "^Доступно обновление!$"
# The version the server offers; the client inside its installer stays the
# current one.
NEWER = "0.2.16.39"
SETUP = "Velto Chat"  # the installer's caption, in Russian or English
RUNTIME_KEY = r"HKCU\Software\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"
USER = getpass.getuser()
WINDOWS_PROFILE = "C:\\users\\" + USER
PE32_I386 = (0x14C, 0x10B)


def earlier(version):
    parts = [int(p) for p in version.split(".")]
    for i in reversed(range(len(parts))):
        if parts[i] > 0:
            parts[i] -= 1
            return ".".join(str(p) for p in parts)
    raise ValueError("no version is earlier than " + version)


def pe_kind(path):
    """(machine, optional header magic) of a PE program."""
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = int.from_bytes(data[60:64], "little")
    assert data[pe:pe + 4] == b"PE\0\0", path
    return int.from_bytes(data[pe + 4:pe + 6], "little"), int.from_bytes(data[pe + 24:pe + 26], "little")


def product_version(path):
    """The product version of the program's version resource, as text."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO's signature
    if at < 0:
        return None
    words = [int.from_bytes(data[at + 16 + 4 * i:at + 20 + 4 * i], "little") for i in range(2)]
    return "%d.%d.%d.%d" % (words[0] >> 16, words[0] & 0xFFFF, words[1] >> 16, words[1] & 0xFFFF)


def visible(title):
    return [int(w) for w in sh("xdotool", "search", "--onlyvisible", "--name", title).split()]


def press(window, key):
    sh("xdotool", "windowactivate", "--sync", str(window), "key", "--clearmodifiers", key)


def publish(**values):
    url = "https://localhost:%s/test/publish?%s" % (os.environ["VELTO_TEST_SERVER_PORT"],
                                                    urllib.parse.urlencode(values))
    subprocess.run(["curl", "-sS", "--max-time", "10", "-o", "/dev/null", url], timeout=30, check=True)


def adopt_orphans(on):
    """Makes this process the parent of the processes its descendants leave
    behind (Wine starts a program's children detached), so that their exit
    codes can be read."""
    PR_SET_CHILD_SUBREAPER = 36
    return ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, int(on), 0, 0, 0) == 0


def exit_code(pid, timeout):
    """The exit code of an adopted process, or None while it runs."""
    codes = []

    def ended():
        done, status = os.waitpid(pid, os.WNOHANG)
        if done == pid:
            codes.append(os.waitstatus_to_exitcode(status))
        return codes

    eventually(ended, timeout=timeout)
    return codes[0] if codes else None


def snapshot(folder):
    """Every file below the folder with a hash of its bytes."""
    found = {}
    for parent, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = hashlib.sha256(f.read()).hexdigest()
    return found


class InstallerUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A prefix of the test's own, made once: the installer writes to the
        # user's registry and start menu, which no other test should see.
        cls.work = tempfile.mkdtemp(prefix="velto-installer-")
        cls.prefix = os.path.join(cls.work, "prefix")
        os.environ["WINEPREFIX"] = cls.prefix
        os.environ["WINEDEBUG"] = "-all"
        # No Mono or Gecko dialogs, and no menu entries on the host's desktop
        # for the shortcut the installer makes.
        os.environ["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
        cls.log = open(os.path.join(cls.work, "wine.log"), "wb")
        os.makedirs(cls.prefix)
        cls.server_started = False
        try:
            subprocess.run([WINESERVER, "-p"], stdout=cls.log, stderr=cls.log, timeout=60, check=True)
            cls.server_started = True
            subprocess.run([WINE64, "wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=cls.log,
                           stderr=cls.log, timeout=180, check=True)
            cls.wine64("reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                       "/t", "REG_DWORD", "/d", "0", "/f")
        except BaseException:
            cls.tearDownClass()
            raise
        drive = os.path.join(cls.prefix, "drive_c", "users", USER, "AppData")
        cls.program_dir = os.path.join(drive, "Local", "Programs", "Velto")
        cls.app_data = os.path.join(drive, "Roaming", "VeltoChat")
        cls.shortcut = os.path.join(drive, "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                                    "Velto Chat.lnk")

    @classmethod
    def tearDownClass(cls):
        if cls.server_started:
            subprocess.run([WINESERVER, "-k"], stdout=cls.log, stderr=cls.log, timeout=30)
            subprocess.run([WINESERVER, "-w"], stdout=cls.log, stderr=cls.log, timeout=30)
        cls.log.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def wine64(cls, *args):
        return subprocess.run([WINE64] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=60)

    def run_windows(self, *args, timeout=120):
        return subprocess.run([WINE_RUN] + list(args), stdin=subprocess.DEVNULL, stdout=self.log,
                              stderr=self.log, timeout=timeout).returncode

    def registered(self):
        """The uninstall key's values, or None when there is no key."""
        answer = self.wine64("reg", "query", KEY)
        if answer.returncode != 0:
            return None
        values = {}
        for line in answer.stdout.splitlines():
            found = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
            if found:
                values[found.group(1)] = found.group(3).strip()
        return values

    def build_installer(self, version):
        """An installer of the same files that calls itself version."""
        made = os.path.join(self.work, "velto-setup-%s.exe" % version)
        subprocess.run([MAKENSIS, "-V2", "-DBUILD_VALUES=" + BUILD_VALUES, "-DVERSION=" + version,
                        "-DOUTFILE=" + made, SCRIPT], stdout=self.log, stderr=self.log, timeout=300, check=True)
        return made

    def install(self, installer):
        self.assertEqual(self.run_windows(installer, "/S"), 0, "the silent install failed")

    def uninstall(self):
        # The uninstaller runs a copy of itself from %TEMP% and returns at
        # once: done is when its files and its key are gone.
        self.assertEqual(self.run_windows(os.path.join(self.program_dir, "uninstall.exe"), "/S"), 0)
        self.assertTrue(eventually(lambda: not os.path.exists(self.program_dir) and self.registered() is None,
                                   timeout=60), "the silent uninstall left %s or the key" % self.program_dir)

    def expect_installed(self, version):
        client = os.path.join(self.program_dir, "velto.exe")
        uninstaller = os.path.join(self.program_dir, "uninstall.exe")
        self.assertEqual(sorted(os.listdir(self.program_dir)), ["uninstall.exe", "velto.exe"])
        self.assertEqual(pe_kind(uninstaller), PE32_I386)
        self.assertEqual(product_version(uninstaller), version)
        self.assertTrue(os.path.isdir(self.app_data), "no app data directory")

        with open(self.shortcut, "rb") as f:
            link = f.read()
        # A Unicode shell link names its target and its icon in UTF-16.
        self.assertIn("\\Programs\\Velto\\velto.exe".encode("utf-16-le"), link)

        windows_dir = WINDOWS_PROFILE + "\\AppData\\Local\\Programs\\Velto"
        values = self.registered()
        self.assertIsNotNone(values, "no uninstall key")
        size_kb = int(values.pop("EstimatedSize"), 16)
        files_kb = (os.path.getsize(client) + os.path.getsize(uninstaller)) // 1024
        self.assertTrue(files_kb <= size_kb <= files_kb + 8, (size_kb, files_kb))
        lowered = lambda d: {k: v.lower() for k, v in d.items()}
        self.assertEqual(lowered(values), lowered({
            "DisplayName": "Velto Chat",
            "DisplayVersion": version,
            "Publisher": "Velto",
            "DisplayIcon": windows_dir + "\\velto.exe,0",
            "InstallLocation": windows_dir,
            "UninstallString": '"%s\\uninstall.exe"' % windows_dir,
            "QuietUninstallString": '"%s\\uninstall.exe" /S' % windows_dir,
            "NoModify": "0x1",
            "NoRepair": "0x1",
        }))

    def expect_uninstalled(self):
        self.assertFalse(os.path.exists(self.shortcut), "the shortcut was left")
        self.assertFalse(os.path.exists(self.program_dir))
        self.assertIsNone(self.registered())

    def run_the_installed_client(self):
        client = subprocess.Popen([WINE_RUN, os.path.join(self.program_dir, "velto.exe")],
                                  stdout=self.log, stderr=self.log)
        self.addCleanup(stop, client)
        window = eventually(lambda: client.poll() is None and sh("xdotool", "search", "--onlyvisible",
                                                                 "--name", MAIN).split(), timeout=90)
        self.assertTrue(window, "the installed client showed no window (exit code %s)" % client.poll())
        # Installing over the running client gives up, the install intact.
        self.assertEqual(self.run_windows(INSTALLER, "/S"), 2, "an install over the running client went on")
        self.expect_installed(VERSION)
        sh("wmctrl", "-ic", window[0])
        self.assertEqual(client.wait(timeout=60), 0)

    def close_client_window(self):
        """Closes a client the installer started (not a child of ours)."""
        window = eventually(lambda: visible(MAIN), timeout=90)
        self.assertTrue(window, "the finish page did not start the client")
        sh("wmctrl", "-ic", str(window[0]))
        self.assertTrue(eventually(lambda: not visible(MAIN), timeout=30), "the client did not close")

    def install_interactively(self, expect_notice):
        installer = subprocess.Popen([WINE_RUN, INSTALLER], stdout=self.log, stderr=self.log)
        self.addCleanup(stop, installer)
        wizard = eventually(lambda: visible(SETUP), timeout=90)
        self.assertTrue(wizard, "no installer window")
        wizard = wizard[0]
        press(wizard, "Return")  # the folder page's default button: Install
        if expect_notice:
            notice = eventually(lambda: [w for w in visible(SETUP) if w != wizard], timeout=60)
            self.assertTrue(notice, "no notice about the missing browser runtime")
            # The notice comes first and holds the install up.
            self.assertFalse(os.path.exists(self.program_dir), "installed before the notice was answered")
            press(notice[0], "Return")
        # Without a notice nothing holds the install up.
        self.assertTrue(eventually(lambda: self.registered() is not None, timeout=60), "the install did not finish")
        self.assertEqual(visible(SETUP), [wizard])
        # The finish page follows once the files are done; its default
        # button starts the client and ends the installer.
        for _ in range(60):
            press(wizard, "Return")
            try:
                self.assertEqual(installer.wait(timeout=1), 0)
                break
            except subprocess.TimeoutExpired:
                pass
        self.assertIsNotNone(installer.poll(), "the installer did not end at its finish page")
        self.close_client_window()
        self.expect_installed(VERSION)
        self.uninstall()

    def test_interactive_install_without_a_browser_runtime_says_so_first(self):
        self.install_interactively(expect_notice=True)

    def test_interactive_install_with_a_browser_runtime_asks_nothing(self):
        for value in ("pv", "location"):
            self.wine64("reg", "add", RUNTIME_KEY, "/v", value, "/d", "120.0.2210.91", "/f")
        self.addCleanup(self.wine64, "reg", "delete", RUNTIME_KEY, "/f")
        self.install_interactively(expect_notice=False)

    def test_interactive_uninstall_removes_the_user_data_when_ticked(self):
        self.install(INSTALLER)
        with open(os.path.join(self.app_data, "WindowSettings.ini"), "wb") as f:
            f.write(b"WindowX = 1\r\n")
        # Its copy in %TEMP% shows the pages; the one started here ends at once.
        self.assertEqual(self.run_windows(os.path.join(self.program_dir, "uninstall.exe")), 0)
        wizard = eventually(lambda: visible(SETUP), timeout=90)
        self.assertTrue(wizard, "no uninstaller window")
        wizard = wizard[0]
        press(wizard, "Return")  # confirmed
        # From the default button, the fourth Tab (Back, Uninstall, Cancel)
        # reaches the component list; its last entry is the user data, off
        # until ticked.
        for _ in range(4):
            press(wizard, "Tab")
        press(wizard, "End")
        press(wizard, "space")
        press(wizard, "Return")
        self.assertTrue(eventually(lambda: not os.path.exists(self.app_data), timeout=60), "the user data stayed")
        for _ in range(60):
            if not visible(SETUP):
                break
            press(wizard, "Return")  # Close, once the files are done
            eventually(lambda: not visible(SETUP), timeout=1)
        self.assertFalse(visible(SETUP), "the uninstaller did not end")
        self.expect_uninstalled()

    def test_install_run_upgrade_uninstall(self):
        self.assertEqual(pe_kind(INSTALLER), PE32_I386)
        self.assertEqual(product_version(INSTALLER), VERSION)

        # A first install, with no app data directory yet; no browser
        # runtime is registered here, which a silent install only notes.
        shutil.rmtree(self.app_data, ignore_errors=True)
        self.install(INSTALLER)
        self.expect_installed(VERSION)
        self.assertEqual(os.listdir(self.app_data), [], "the installer put something into the app data")

        self.run_the_installed_client()
        self.assertTrue(os.path.isfile(os.path.join(self.app_data, "WindowSettings.ini")),
                        "the client saved no settings into the directory the installer made")
        kept = snapshot(self.app_data)

        self.uninstall()
        self.expect_uninstalled()
        self.assertEqual(snapshot(self.app_data), kept, "the uninstall touched the user's data")

        # An upgrade from an older version, built here from the same files.
        older_version = earlier(VERSION)
        older = self.build_installer(older_version)
        self.install(older)
        self.expect_installed(older_version)
        os.makedirs(os.path.join(self.app_data, "Updater"))
        with open(os.path.join(self.app_data, "Updater", "updater.exe"), "wb") as f:
            f.write(os.urandom(1000))
        kept = snapshot(self.app_data)
        self.install(INSTALLER)
        self.expect_installed(VERSION)
        self.assertEqual(snapshot(self.app_data), kept, "the upgrade touched the user's data")

        self.uninstall()
        self.expect_uninstalled()
        self.assertEqual(snapshot(self.app_data), kept, "the uninstall touched the user's data")

    @staticmethod
    def end_adopted(pid):
        try:
            if exit_code(pid, 0) is None:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
        except ChildProcessError:
            pass  # reaped already

    def test_an_accepted_update_is_installed_by_the_updater_and_the_client_restarts(self):
        # The whole hand-over, nothing stood in: the installed client, the
        # updater of this build, an installer of a newer version in the
        # package, and the client started again from the install.
        newer = self.build_installer(NEWER)
        self.install(INSTALLER)
        self.addCleanup(self.uninstall)
        with open(os.path.join(self.app_data, "WindowSettings.ini"), "wb") as f:
            f.write(b"WindowX = 40\r\nWindowY = 30\r\n")
        kept = snapshot(self.app_data)
        publish(version=NEWER, updater_file=UPDATER, package_installer=newer)
        self.addCleanup(publish, version=VERSION, updater_file="", package_installer="")
        self.assertTrue(adopt_orphans(True), "cannot adopt the processes the updater starts")
        self.addCleanup(adopt_orphans, False)

        client = subprocess.Popen([WINE_RUN, os.path.join(self.program_dir, "velto.exe")],
                                  stdout=self.log, stderr=self.log)
        self.addCleanup(stop, client)
        box = eventually(lambda: client.poll() is None and visible(QUESTION), timeout=90)
        self.assertTrue(box, "no update offer (exit code %s)" % client.poll())
        # The offer was read; the client started again is still the current
        # version inside and must not be offered the same update again.
        publish(version=VERSION)
        press(box[0], "Return")
        self.assertEqual(client.wait(timeout=60), 0)

        self.assertTrue(eventually(lambda: (self.registered() or {}).get("DisplayVersion") == NEWER,
                                   timeout=180, step=1), "the updater did not install the newer version")
        self.assertEqual({name: digest for name, digest in snapshot(self.app_data).items() if name in kept}, kept,
                         "the update touched the user's data")
        self.assertTrue(os.path.isfile(os.path.join(self.app_data, "Updater", "updater.exe")))

        found = eventually(lambda: visible(MAIN), timeout=120)
        self.assertTrue(found, "the client was not started again")
        self.assertFalse(visible(QUESTION))
        window = found[0]
        pid = int(sh("xdotool", "getwindowpid", str(window)).strip() or 0)
        self.assertTrue(pid, "the client's window names no process")
        self.addCleanup(self.end_adopted, pid)
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            command = f.read().decode(errors="replace").lower()
        self.assertIn("\\programs\\velto\\velto.exe", command)
        sh("wmctrl", "-ic", str(window))
        self.assertEqual(exit_code(pid, timeout=60), 0, "the restarted client did not end well")
        self.assertFalse(visible(MAIN))


if __name__ == "__main__":
    main(os.environ.get("DISPLAY") and os.access(WINE32, os.X_OK)
         and subprocess.run([WINE32, "--version"], capture_output=True).returncode == 0,
         "needs an X display (Scripts/with-display) and a host that runs 32-bit Wine")
