#!/usr/bin/env python3
"""The Windows client under Wine, met as a user meets it: started, looked at,
dragged and closed on the test display with the standard X tools.

Usage: client_window_wine.py <velto.exe> <wine-run> <window_tool.exe>
Exits 77 (skipped) when the host cannot run the executable."""

import getpass
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

CLIENT = sys.argv[1] if len(sys.argv) > 1 else ""
WINE_RUN = sys.argv[2] if len(sys.argv) > 2 else ""
TOOL = sys.argv[3] if len(sys.argv) > 3 else ""
TITLE = "Velto Чат"
VERSIONED_TITLE = "Velto Чат 0.2.16.38"
SKIPPED = 77


def sh(*args):
    return subprocess.run(args, capture_output=True, text=True, timeout=30).stdout


def eventually(condition, timeout=10.0, step=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def client_geometry(window):
    info = sh("xwininfo", "-id", str(window))
    field = lambda label: int(re.search(label + r":\s+(-?\d+)", info).group(1))
    return (field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"))


def frame_extents(window):
    text = sh("xprop", "-id", str(window), "_NET_FRAME_EXTENTS")
    found = re.search(r"=\s*(\d+), (\d+), (\d+), (\d+)", text)
    return tuple(int(v) for v in found.groups()) if found else (0, 0, 0, 0)


def app_dir():
    # Wine gives programs its own APPDATA inside the prefix.
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    return os.path.join(prefix, "drive_c", "users", getpass.getuser(), "AppData", "Roaming", "VeltoChat")


def settings_bytes(x, y, width, height):
    return ("\ufeff\r\nWindowX = %d\r\nWindowY = %d\r\nWindowWidth = %d\r\nWindowHeight = %d\r\n"
            % (x, y, width, height)).encode("utf-8")


def stop(process):
    """Ends a client a test left running."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=10)


def tool(*args):
    return subprocess.run([WINE_RUN, TOOL] + list(args), capture_output=True, text=True, timeout=60, check=True).stdout


class ClientUnderWine(unittest.TestCase):
    """A fresh client with no app data directory unless a test makes one."""

    def setUp(self):
        shutil.rmtree(app_dir(), ignore_errors=True)
        self.start()

    def start(self):
        self.log = tempfile.TemporaryFile()
        self.client = subprocess.Popen([WINE_RUN, CLIENT], stdout=self.log, stderr=self.log)
        # Also when set-up fails: a client left running would be the one
        # instance that every later start defers to.
        self.addCleanup(stop, self.client)
        eventually(lambda: self.client.poll() is not None or self.find_window(), timeout=60)
        if self.client.poll() == SKIPPED:
            self.skipTest("this host cannot run the executable")
        self.assertIsNone(self.client.poll(), "the client ended before its window appeared")
        self.window = self.find_window()
        self.assertTrue(self.window, "the client's window did not appear")

    def title(self):
        return sh("xprop", "-id", str(self.window), "_NET_WM_NAME")

    def query(self, title):
        x, y, width, height, minimised, _ = (int(v) for v in tool(title, "query").split())
        return (x, y, width, height), bool(minimised)

    def maximised(self, title):
        return tool(title, "query").split()[5] == "1"

    def close_and_expect_exit_code_zero(self):
        sh("wmctrl", "-ic", str(self.window))
        self.assertEqual(self.client.wait(timeout=30), 0)
        self.log.close()

    def tearDown(self):
        stop(self.client)
        if not self.log.closed:
            self.log.close()

    def find_window(self):
        if self.client.poll() is not None:
            return None
        ids = sh("xdotool", "search", "--onlyvisible", "--name", "^Velto").split()
        return int(ids[0]) if ids else None

    def size_becomes(self, width, height):
        return eventually(lambda: client_geometry(self.window)[2:] == (width, height))

    def drag_to(self, width, height):
        # Resized from another Windows program: under Wine a window manager
        # resize does not always reach the program (Wine may drop the X
        # configure notification), while the Windows path is what a drag of
        # the frame produces on Windows.
        tool(self.current_title, "size", str(width), str(height))

    current_title = TITLE

    def test_opens_centred_with_its_title_and_default_size(self):
        self.assertIn('"Velto Чат"', self.title())
        self.assertTrue(self.size_becomes(400, 700))
        screen = sh("xwininfo", "-root")
        screen_w = int(re.search(r"Width: (\d+)", screen).group(1))
        screen_h = int(re.search(r"Height: (\d+)", screen).group(1))
        x, y, w, h = client_geometry(self.window)
        # Windows centres its own frame, whose size differs slightly from the
        # X window manager's: compare the client area's centre.
        self.assertLessEqual(abs((x + w // 2) - screen_w // 2), 12)
        self.assertLessEqual(abs((y + h // 2) - screen_h // 2), 20)

    def test_springs_back_to_the_minimum_size(self):
        self.assertTrue(self.size_becomes(400, 700))
        self.drag_to(200, 300)
        self.assertTrue(self.size_becomes(290, 400), "too small on both axes")
        self.drag_to(500, 300)
        self.assertTrue(self.size_becomes(500, 400), "too short only")
        self.drag_to(500, 600)
        self.assertTrue(self.size_becomes(500, 600), "large enough: left alone")

    def test_closing_it_ends_the_process_with_exit_code_zero(self):
        self.close_and_expect_exit_code_zero()
        self.assertFalse(os.path.exists(app_dir()), "the client never makes its app data directory")


class StoredGeometryUnderWine(ClientUnderWine):
    """Clients that find their app data directory, with or without settings."""

    settings = None

    def setUp(self):
        shutil.rmtree(app_dir(), ignore_errors=True)
        os.makedirs(app_dir())
        if self.settings is not None:
            with open(os.path.join(app_dir(), "WindowSettings.ini"), "wb") as out:
                out.write(self.settings)
        self.start()

    # The first-start cases belong to the base class only.
    test_opens_centred_with_its_title_and_default_size = None
    test_springs_back_to_the_minimum_size = None
    test_closing_it_ends_the_process_with_exit_code_zero = None

    def saved(self):
        with open(os.path.join(app_dir(), "WindowSettings.ini"), "rb") as saved:
            return saved.read()

    def test_comes_back_where_the_user_left_it(self):
        self.assertTrue(self.size_becomes(400, 700))
        tool(TITLE, "size", "520", "610", "130", "90")
        self.assertTrue(eventually(lambda: self.query(TITLE)[0] == (130, 90, 520, 610)))
        self.close_and_expect_exit_code_zero()
        self.assertEqual(self.saved(), settings_bytes(130, 90, 520, 610))

        self.start()
        self.assertIn('"%s"' % VERSIONED_TITLE, self.title())
        self.assertEqual(self.query(VERSIONED_TITLE)[0], (130, 90, 520, 610))
        self.close_and_expect_exit_code_zero()

    def test_closed_while_minimised_it_saves_the_geometry_it_was_shown_with(self):
        tool(TITLE, "size", "480", "560", "150", "120")
        self.assertTrue(eventually(lambda: self.query(TITLE)[0] == (150, 120, 480, 560)))
        tool(TITLE, "minimize")
        self.assertTrue(eventually(lambda: self.query(TITLE)[1]))
        self.close_and_expect_exit_code_zero()
        self.assertEqual(self.saved(), settings_bytes(150, 120, 480, 560))

    def test_closed_while_maximised_it_comes_back_maximised(self):
        tool(TITLE, "size", "480", "560", "150", "120")
        self.assertTrue(eventually(lambda: self.query(TITLE)[0] == (150, 120, 480, 560)))
        tool(TITLE, "maximize")
        self.assertTrue(eventually(lambda: self.maximised(TITLE)))
        self.close_and_expect_exit_code_zero()
        self.assertEqual(self.saved(), settings_bytes(150, 120, 480, 560) + b"WindowMaximized = 1\r\n")

        self.start()
        self.assertIn('"%s"' % VERSIONED_TITLE, self.title())
        self.assertTrue(self.maximised(VERSIONED_TITLE))
        self.assertNotEqual(self.query(VERSIONED_TITLE)[0][2:], (480, 560))
        tool(VERSIONED_TITLE, "restore")
        self.assertTrue(eventually(lambda: not self.maximised(VERSIONED_TITLE)))
        self.assertTrue(eventually(lambda: self.query(VERSIONED_TITLE)[0] == (150, 120, 480, 560)),
                        self.query(VERSIONED_TITLE))
        self.close_and_expect_exit_code_zero()
        self.assertEqual(self.saved(), settings_bytes(150, 120, 480, 560))


class FarOffPlaceUnderWine(StoredGeometryUnderWine):
    settings = settings_bytes(30000, 30000, 480, 560)

    def test_a_place_off_every_screen_is_brought_to_the_middle(self):
        self.assertIn('"%s"' % VERSIONED_TITLE, self.title())
        (x, y, width, height), _ = self.query(VERSIONED_TITLE)
        self.assertEqual((width, height), (480, 560))
        screen = sh("xwininfo", "-root")
        screen_w = int(re.search(r"Width: (\d+)", screen).group(1))
        screen_h = int(re.search(r"Height: (\d+)", screen).group(1))
        self.assertTrue(0 <= x < screen_w // 2 and 0 <= y < screen_h // 2, (x, y))
        self.close_and_expect_exit_code_zero()

    test_comes_back_where_the_user_left_it = None
    test_closed_while_minimised_it_saves_the_geometry_it_was_shown_with = None
    test_closed_while_maximised_it_comes_back_maximised = None


class SingleInstanceUnderWine(ClientUnderWine):
    """A second start while a client runs: the running client's window comes
    forward and the second start ends."""

    test_opens_centred_with_its_title_and_default_size = None
    test_springs_back_to_the_minimum_size = None
    test_closing_it_ends_the_process_with_exit_code_zero = None

    def start_again_and_expect_exit_code_zero(self):
        again = subprocess.Popen([WINE_RUN, CLIENT], stdout=self.log, stderr=self.log)
        self.addCleanup(stop, again)
        self.assertEqual(again.wait(timeout=60), 0)

    def minimise(self):
        tool(TITLE, "minimize")
        self.assertTrue(eventually(lambda: self.query(TITLE)[1]), "the window did not minimise")

    def expect_window_restored(self):
        self.assertTrue(eventually(lambda: not self.query(TITLE)[1]), "the window is still minimised")
        self.assertEqual(client_windows(), [self.window])
        self.assertTrue(eventually(lambda: active_window() == self.window),
                        "active: %s, the client's: %s" % (active_window(), self.window))

    def test_a_second_start_restores_the_minimised_window_and_ends(self):
        self.minimise()
        self.start_again_and_expect_exit_code_zero()
        self.expect_window_restored()
        self.assertFalse(os.path.exists(app_dir()), "the second start made the app data directory")
        self.close_and_expect_exit_code_zero()

    def test_a_killed_client_keeps_no_later_start_away(self):
        # The Wine process is the Windows process: SIGKILL is the end
        # TerminateProcess gives it.
        self.client.kill()
        self.client.wait(timeout=30)
        self.log.close()
        self.assertTrue(eventually(lambda: not client_windows()), "the killed client's window stayed")
        self.start()
        self.minimise()
        self.start_again_and_expect_exit_code_zero()
        self.expect_window_restored()
        self.close_and_expect_exit_code_zero()


def active_window():
    found = re.search(r"# (0x[0-9a-f]+)", sh("xprop", "-root", "_NET_ACTIVE_WINDOW"))
    return int(found.group(1), 16) if found else 0


def client_windows():
    """Every window with the client's title, shown or minimised."""
    return [int(w) for w in sh("xdotool", "search", "--name", "^" + TITLE).split()]


def main(ready, why_not):
    """Runs this module's tests; exits 77 when all of them were skipped or
    when `ready` is false (printing `why_not`)."""
    if not ready:
        print(why_not)
        sys.exit(SKIPPED)
    result = unittest.main(argv=sys.argv[:1], exit=False).result
    if result.skipped and not result.failures and not result.errors and result.testsRun == len(result.skipped):
        sys.exit(SKIPPED)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main(os.environ.get("DISPLAY"), "needs an X display with a window manager (run under Scripts/with-display)")
