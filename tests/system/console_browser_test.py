#!/usr/bin/python3
"""The console in headless Chromium against the demo daemon.

    console_browser_test.py --source-dir SRC --build-dir BUILD [--slots N]

Without --slots: the sample emulated library. The page must list every
drive and show a known barcode in the grid; a cartridge is loaded and the
drive unloaded again through the page's confirmation dialog (a cancelled
dialog moves nothing); afterwards the page shows the drive empty and the
slot full; a cartridge is moved to an empty slot; a rescan cannot be
confirmed before its warning is acknowledged; a move the daemon refuses
shows the daemon's message; the inventory (route and
SQLite file) agrees. A screenshot
is written to BUILD/console/console.png.

The daemon has a bearer token: the page asks for it once.

With --slots N: a generated library of N slots. The page must draw the
grid from a page of the inventory asked before anything else, read the
library in pages and scroll to its last slot; the time from opening the
page to the first grid drawn is printed (no limit is asserted). Screenshot:
BUILD/console/console-N.png.

Exit status 77 (skipped) when Chromium or its driver is not installed.
"""

import argparse
import json
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIP = 77
LIBRARY = "EMU-LIB-0001"
# Generous: the machine running the suite may be busy.
WAIT_SECONDS = 120


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Daemon:
    """scripts/demo --no-build on the build tree, in a folder of its own."""

    def __init__(self, source, build, folder, library_file=None, token=None):
        self.source, self.build, self.folder = source, build, folder
        self.library_file = library_file
        self.token = token
        self.port = None
        self.proc = None
        self.log_path = folder + ".log"

    def start(self):
        for _ in range(3):
            self.port = free_port()
            args = [os.path.join(self.source, "scripts/demo"), "--no-build", "--build-dir", self.build,
                    "--dir", self.folder, "--port", str(self.port)]
            if self.library_file:
                args += ["--library", self.library_file]
            if self.token:
                token_file = self.folder + ".token"
                with open(token_file, "w") as f:
                    f.write(self.token + "\n")
                os.chmod(token_file, 0o600)
                args += ["--token-file", token_file]
            with open(self.log_path, "ab") as log:
                self.proc = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT)
            deadline = time.monotonic() + WAIT_SECONDS
            while time.monotonic() < deadline and self.proc.poll() is None:
                try:
                    if self.get("/d2/r/tapectl/info")[0] == 200:
                        return
                except OSError:
                    pass
                time.sleep(0.2)
            if self.proc.poll() is None:
                break
        raise AssertionError("the daemon did not start:\n" + self.log())

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def log(self):
        try:
            with open(self.log_path, errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def get(self, path, timeout=600, token=True):
        headers = {"Authorization": "Bearer " + self.token} if self.token and token else {}
        try:
            request = urllib.request.Request(self.url(path), headers=headers)
            with urllib.request.urlopen(request, timeout=timeout) as r:
                return r.status, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def post(self, path, body):
        headers = {"Content-Type": "application/json"}
        if self.token:
            headers["Authorization"] = "Bearer " + self.token
        request = urllib.request.Request(self.url(path), data=json.dumps(body).encode(),
                                         headers=headers, method="POST")
        try:
            with urllib.request.urlopen(request, timeout=600) as r:
                return r.status, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def get_json(self, path):
        status, body = self.get(path)
        assert status == 200, "%s answered %d: %r" % (path, status, body[:300])
        return json.loads(body)


def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--window-size=1400,1000", "--disable-extensions", "--no-first-run"):
        options.add_argument(a)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def wait_for(what, check, timeout=WAIT_SECONDS):
    """Polls check() until it returns a true value; that value."""
    deadline = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < deadline:
        try:
            value = check()
            if value:
                return value
        except Exception as e:  # a stale element while the page redraws
            last_error = e
        time.sleep(0.2)
    raise AssertionError("timed out waiting for %s (%s)" % (what, last_error))


def confirm(driver, ok):
    """Answers the confirmation dialog that is open; its text."""
    from selenium.webdriver.common.by import By

    dialog = wait_for("the confirmation dialog",
                      lambda: driver.find_element(By.ID, "confirm").get_attribute("open") is not None
                      and driver.find_element(By.ID, "confirm"))
    text = dialog.find_element(By.ID, "confirm-text").text
    dialog.find_element(By.ID, "confirm-ok" if ok else "confirm-cancel").click()
    wait_for("the dialog to close", lambda: dialog.get_attribute("open") is None)
    return text


def cell(driver, tag):
    from selenium.webdriver.common.by import By

    cells = driver.find_elements(By.CSS_SELECTOR, '#grid .cell[data-tag="%s"]' % tag)
    return cells[0] if cells else None


def drive_row(driver, serial):
    from selenium.webdriver.common.by import By

    rows = driver.find_elements(By.CSS_SELECTOR, '#drives tr[data-drive="%s"]' % serial)
    return rows[0] if rows else None


def sqlite_drive_slot(db, serial, drive_number):
    con = sqlite3.connect("file:%s?mode=ro" % db, uri=True)
    try:
        row = con.execute("select d.slot_number from drive d join changer c on c.id = d.changer_id "
                          "where c.serial_number = ? and d.drive_number = ?",
                          (serial, drive_number)).fetchone()
        tags = dict(con.execute("select s.slot_number, s.media_tag from slot s join changer c "
                                "on c.id = s.changer_id where c.serial_number = ?", (serial,)))
        return row, tags
    finally:
        con.close()


def unload_through_the_page(driver, daemon, folder, shots):
    from selenium.webdriver.common.by import By

    with open(os.path.join(folder, "library.json")) as f:
        changer = json.load(f)["changers"][0]
    drives = [d["serial_number"] for d in changer["drives"]]
    tag, home = "A00001L9", 1
    drive = drives[0]

    # The page loads without the token, its data needs it: asked once, kept
    # for the session (a reload does not ask again).
    assert daemon.get("/", token=False)[0] == 200
    assert daemon.get("/d2/r/tapectl/info", token=False)[0] == 401
    driver.get(daemon.url("/"))
    wait_for("the token dialog", lambda: driver.find_element(By.ID, "token").get_attribute("open") is not None)
    driver.find_element(By.ID, "token-text").send_keys(daemon.token)
    driver.find_element(By.ID, "token-ok").click()
    wait_for("drive rows", lambda: drive_row(driver, drives[0]))
    driver.refresh()
    for serial in drives:
        wait_for("drive %s in the table" % serial, lambda: drive_row(driver, serial))
    c = wait_for("barcode %s in the grid" % tag, lambda: cell(driver, tag))
    assert driver.find_element(By.ID, "token").get_attribute("open") is None
    assert c.get_attribute("data-slot") == str(home), c.get_attribute("data-slot")
    assert c.get_attribute("data-kind") == "full"
    assert "A00001L9" in c.text

    # Load: pick the cartridge, then the drive's button, then confirm.
    c.click()
    load = wait_for("the load button", lambda: drive_row(driver, drive).find_element(
        By.CSS_SELECTOR, "button[data-load]"))
    load.click()
    text = confirm(driver, True)
    assert tag in text and drive in text, text
    wait_for("the drive holding %s" % tag, lambda: tag in drive_row(driver, drive).text)
    wait_for("slot %d shown in a drive" % home,
             lambda: cell(driver, tag).get_attribute("data-kind") == "indrive")
    driver.save_screenshot(shots)  # a loaded drive: the picture worth looking at

    # A cancelled unload moves nothing.
    drive_row(driver, drive).find_element(By.CSS_SELECTOR, "button[data-unload]").click()
    confirm(driver, False)
    time.sleep(4)  # more than one refresh of the page
    assert tag in drive_row(driver, drive).text
    inventory = daemon.get_json("/d2/r/tapectl/inventory?serial_number=" + LIBRARY)
    assert [d for d in inventory[0]["drives"] if d["serial_number"] == drive][0]["media_tag"] == tag

    # The unload, confirmed.
    drive_row(driver, drive).find_element(By.CSS_SELECTOR, "button[data-unload]").click()
    text = confirm(driver, True)
    assert drive in text, text
    wait_for("the drive empty", lambda: "empty" in drive_row(driver, drive).find_element(
        By.CSS_SELECTOR, "td.cartridge").text)
    wait_for("slot %d full again" % home, lambda: cell(driver, tag).get_attribute("data-kind") == "full")
    assert not driver.find_element(By.ID, "error").is_displayed(), \
        driver.find_element(By.ID, "error").text

    # A move: pick the cartridge, "Move to a slot", pick an empty slot.
    moving, target = "A00002L9", 11
    cell(driver, moving).click()
    wait_for("the move button", lambda: driver.find_element(By.ID, "move-start")).click()
    wait_for("empty slot %d" % target, lambda: driver.find_element(
        By.CSS_SELECTOR, '#grid .cell[data-slot="%d"][data-kind="empty"]' % target)).click()
    text = confirm(driver, True)
    assert moving in text and str(target) in text, text
    wait_for("%s in slot %d" % (moving, target), lambda: (cell(driver, moving) and
             cell(driver, moving).get_attribute("data-slot") == str(target)))

    # The daemon's refusal is shown: the target is filled behind the page's
    # back while its confirmation dialog is open.
    cell(driver, "A00003L9").click()
    wait_for("the move button", lambda: driver.find_element(By.ID, "move-start")).click()
    wait_for("empty slot 13", lambda: driver.find_element(
        By.CSS_SELECTOR, '#grid .cell[data-slot="13"][data-kind="empty"]')).click()
    wait_for("the confirmation dialog", lambda: driver.find_element(By.ID, "confirm").get_attribute("open") is not None)
    status, body = daemon.post("/d2/r/tapectl/media/transfer", {"serial_number": LIBRARY,
                               "media_tag": "A00004L9", "from": 4, "to": 13})
    assert status == 200, (status, body)
    confirm(driver, True)
    error = wait_for("the daemon's message", lambda: driver.find_element(By.ID, "error").is_displayed()
                     and driver.find_element(By.ID, "error-text").text)
    assert "Target slot is full" in error and "400" in error, error
    assert cell(driver, "A00003L9").get_attribute("data-slot") == "3"
    driver.find_element(By.ID, "error-close").click()

    # A rescan cannot be confirmed before its warning is acknowledged.
    driver.find_element(By.ID, "rescan").click()
    wait_for("the rescan dialog", lambda: driver.find_element(By.ID, "confirm-warning").is_displayed())
    assert "moves cartridges" in driver.find_element(By.ID, "confirm").text
    assert not driver.find_element(By.ID, "confirm-ok").is_enabled()
    driver.find_element(By.ID, "confirm-ack").click()
    assert driver.find_element(By.ID, "confirm-ok").is_enabled()
    confirm(driver, False)

    # The inventory agrees: the route and the SQLite file.
    inventory = daemon.get_json("/d2/r/tapectl/inventory?serial_number=" + LIBRARY)
    d = [d for d in inventory[0]["drives"] if d["serial_number"] == drive][0]
    assert d["slot_number"] is None and d["media_tag"] is None, d
    slot = [s for s in inventory[0]["slots"] if s["slot_number"] == home][0]
    assert slot.get("media_tag") == tag, slot
    row, tags = sqlite_drive_slot(os.path.join(folder, "state/media_controller.db"), LIBRARY,
                                  d["drive_number"])
    assert row is not None and row[0] is None, row
    assert tags.get(home) == tag, tags
    assert tags.get(target) == moving and not tags.get(2), tags
    assert tags.get(3) == "A00003L9" and tags.get(13) == "A00004L9", tags


def generated_library(sample, slots, path):
    """The sample library with `slots` storage slots, most of them full."""
    with open(sample) as f:
        lib = json.load(f)
    changer = lib["changers"][0]
    changer["storage_slots"] = slots
    cartridges = []
    for n in range(1, slots + 1):
        if n % 7 == 0:
            continue  # some empty slots
        if n % 997 == 0:
            cartridges.append({"slot": n, "barcode": "CLN%03dL1" % (n % 1000), "cleaning": True})
        else:
            cartridges.append({"slot": n, "barcode": "B%05dL9" % n, "capacity": 18000000000000})
    changer["cartridges"] = cartridges
    with open(path, "w") as f:
        json.dump(lib, f)


def measure_large(driver, daemon, slots, shots):
    from selenium.webdriver.common.by import By

    driver.get(daemon.url("/"))
    first = wait_for("the first grid", lambda: driver.execute_script("return window.consoleFirstRenderMs"))
    drawn = len(driver.find_elements(By.CSS_SELECTOR, "#grid .cell"))
    assert 0 < drawn < slots, drawn  # only the rows in view are in the page
    # Scroll to the end: the last slot appears.
    driver.execute_script("const g = document.getElementById('grid'); g.scrollTop = g.scrollHeight;")
    last = wait_for("the last slot", lambda: driver.find_elements(
        By.CSS_SELECTOR, '#grid .cell[data-slot="%d"]' % slots))
    assert last
    # Scrolling: 20 jumps through the grid, each drawn in a frame of its own.
    took = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        const g = document.getElementById('grid'); const t0 = performance.now(); let i = 0;
        function step() {
          if (i > 20) { done(performance.now() - t0); return; }
          g.scrollTop = g.scrollHeight * i++ / 20;
          requestAnimationFrame(() => requestAnimationFrame(step));
        }
        step();""")
    driver.find_element(By.ID, "find-text").send_keys("B%05dL9" % (slots - 1))
    driver.find_element(By.CSS_SELECTOR, "#find button").click()
    wait_for("the found barcode", lambda: driver.find_elements(By.CSS_SELECTOR, "#grid .cell.found"))
    driver.save_screenshot(shots)
    t = driver.execute_script("""
        const n = performance.getEntriesByType('navigation')[0] || {};
        const r = (part) => performance.getEntriesByType('resource').find((e) => e.name.includes(part)) || {};
        const page = r('/inventory?from='), info = r('/info'), js = r('console.js');
        return {html: n.responseEnd, script: js.responseEnd, dcl: n.domContentLoadedEventEnd,
                page_sent: page.startTime, page_in: page.responseEnd, info_sent: info.startTime,
                info_in: info.responseEnd, data: window.consoleFirstDataMs,
                frame: window.consoleFirstFrameMs, all: window.consoleAllSlotsMs,
                whole: performance.getEntriesByType('resource').filter((e) =>
                  e.name.includes('/inventory') && !e.name.includes('from=')).map((e) => e.name)};""")
    # The first picture comes from a page of the inventory asked before
    # anything else; the library is read in pages, never whole.
    assert t.get("page_in") and t["page_in"] <= (t.get("info_sent") or t["page_in"]), t
    assert not t["whole"], t["whole"]
    ms = lambda k: "%d" % t[k] if t.get(k) else "-"
    print("console at %d slots: first grid drawn %d ms after navigation start (page %s ms, "
          "console.js %s ms, DOMContentLoaded %s ms, first inventory page asked %s ms and received "
          "%s ms, parsed %s ms, info asked %s ms and received %s ms, first frame %s ms, every slot "
          "read %s ms); %d cells in the page; 21 scroll jumps drawn in %.0f ms (two frames each)"
          % (slots, first, ms("html"), ms("script"), ms("dcl"), ms("page_sent"), ms("page_in"),
             ms("data"), ms("info_sent"), ms("info_in"), ms("frame"), ms("all"), drawn, took))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source-dir", required=True)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--slots", type=int, default=0)
    args = ap.parse_args()

    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("skipped: %s or %s is not installed" % (CHROMIUM, CHROMEDRIVER))
        return SKIP

    out = os.path.join(args.build_dir, "console")
    os.makedirs(out, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="d2t-console-test.")
    folder = os.path.join(tmp, "run")
    library_file = None
    if args.slots:
        library_file = os.path.join(tmp, "library-%d.json" % args.slots)
        generated_library(os.path.join(args.source_dir, "d2t/emulator/samples/library.json"),
                          args.slots, library_file)
    token = None if args.slots else "console-test-token-%d" % os.getpid()
    daemon = Daemon(args.source_dir, args.build_dir, folder, library_file, token)
    driver = None
    try:
        daemon.start()
        # The first list of the library scans it into the inventory.
        t0 = time.monotonic()
        listed = daemon.get_json("/d2/r/tapectl/list?serial_number=" + LIBRARY)
        assert listed and listed[0]["serial_number"] == LIBRARY, listed
        if args.slots:
            print("scan of %d slots: %.1f s" % (args.slots, time.monotonic() - t0))
        driver = browser()
        driver.set_page_load_timeout(WAIT_SECONDS)
        if args.slots:
            measure_large(driver, daemon, args.slots, os.path.join(out, "console-%d.png" % args.slots))
        else:
            unload_through_the_page(driver, daemon, folder, os.path.join(out, "console.png"))
        print("console test passed; screenshot in " + out)
        return 0
    except AssertionError as e:
        print("FAILED: %s" % e)
        if driver:
            try:
                driver.save_screenshot(os.path.join(out, "failed.png"))
                for entry in driver.get_log("browser"):
                    print("browser:", entry)
            except Exception:
                pass
        print("daemon log:\n" + daemon.log()[-4000:])
        return 1
    finally:
        if driver:
            driver.quit()
        daemon.stop()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
