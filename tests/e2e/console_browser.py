#!/usr/bin/env python3
"""The vendor's console in a real browser, against the staged client.

    console_browser.py --stage DIR --server FILE [--keep]

A fresh store made from the demo content, vexor-server with the console on a
free loopback port, and headless chromium driven by selenium: log in, upload
a banner, put it into a new line-up valid from now; the staged client (under
Xvfb) fetches that banner in its first cycle and rotates it, its second run
reports the displays; the statistics page and the CSV export show them. Then
log out, and five wrong passwords lock the user out.

Exit status 0 passed, 1 failed, 77 skipped (no Xvfb, chromium or selenium).
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import time
import urllib.request

import browser
from client_e2e import (BannerSize, banner_frames, client_arguments, client_folders, grab_rgb, log_requests,
                        named_windows, register, start_xvfb)
from harness import Deadline, check, fail, read_text, run_in_temp_folder, wait_for

TotalDeadline = 280
Password = "browser-test-password"
Interval = 1000  # ms: the banner comes round every second


def start_server(processes, server, folder):
    store = os.path.join(folder, "store.db")
    content = os.path.join(os.path.dirname(os.path.abspath(server)), "content")
    subprocess.run([server, "import", "--store", store, "--content", content], check=True, timeout=Deadline,
                   stdout=subprocess.DEVNULL)
    subprocess.run([server, "passwd", "--store", store, "vendor"], input=Password.encode(), check=True,
                   timeout=Deadline, stdout=subprocess.DEVNULL)
    out_path, log = os.path.join(folder, "server.out"), os.path.join(folder, "server.log")
    with open(out_path, "wb") as out:
        process = processes.start([server, "--port", "0", "--store", store, "--log", log,
                                   "--console", "127.0.0.1:0"], stdout=out, stderr=subprocess.STDOUT)

    def started():
        if process.poll() is not None:
            fail(f"vexor-server ended with {process.returncode}")
        text = read_text(out_path)
        console = re.search(r"console on (http://\S+)/console/", text)
        script = re.search(r"listening on 127\.0\.0\.1:(\d+)", text)
        return console and script and (console.group(1), script.group(1))

    base, port = wait_for("vexor-server's console and listening lines", started)
    return base, port, log


def upload_banner(driver, base, folder, content):
    from selenium.webdriver.common.by import By

    image = os.path.join(folder, "spring.gif")
    shutil.copyfile(os.path.join(content, "banners", "100002.gif"), image)
    page = os.path.join(folder, "spring.htm")
    with open(page, "w") as f:
        f.write('<html><body style="margin:0"><img src="spring.gif" width="124" height="94"></body></html>\n')
    driver.get(base + "/console/banners")
    browser.fill(driver, "name", "Spring <b>sale</b>")
    driver.find_element(By.ID, "image").send_keys(image)
    driver.find_element(By.ID, "page").send_keys(page)
    driver.find_element(By.ID, "targets").send_keys("https://example.org/spring")
    driver.find_element(By.XPATH, "//button[text()='Add the banner']").click()
    card = wait_for("the new banner's card", lambda: driver.find_elements(
        By.XPATH, "//article[.//input[@name='name' and @value='Spring <b>sale</b>']]")
        or driver.find_elements(By.CSS_SELECTOR, "p.error, .field-error") and fail(
            "the upload was refused: " + driver.find_element(By.TAG_NAME, "main").text[:300]))
    banner_id = card[0].get_attribute("id")[1:]
    check(re.fullmatch(r"[A-Z0-9]{6}", banner_id) is not None, "the upload got a six-character id", banner_id)
    return banner_id


def new_lineup(driver, base, banner_id):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select

    driver.get(base + "/console/lineups/new")
    browser.fill(driver, "name", "Browser test")
    Select(driver.find_element(By.ID, "slot0")).select_by_value(banner_id)
    browser.fill(driver, "interval", str(Interval))
    driver.find_element(By.XPATH, "//button[text()='Save the line-up']").click()
    row = wait_for("the line-up in the list",
                   lambda: driver.find_elements(By.XPATH, "//tr[th/a[text()='Browser test']]"))
    check("in force now" in row[0].text, "the new line-up is marked in force", row[0].text)
    driver.get(base + "/console/lineups/now?client=1131")
    answer = driver.find_element(By.ID, "answer").text
    check(answer == banner_id + "000000" * 9 + f"{Interval:06X}", "a client gets the new line-up now", answer)


def run_client(processes, args, folder, port):
    """The staged client, as the X end-to-end test runs it."""
    app, home, config, runtime, registry = client_folders(args.stage, folder)
    register(app, registry, "Notes", "N")
    display = start_xvfb(processes)
    env = {key: value for key, value in os.environ.items() if not key.startswith("QT_")}
    env.update(DISPLAY=display, HOME=home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
               VEXOR_SERVER_HOST=f"127.0.0.1:{port}", VEXOR_WEB_HOST=f"127.0.0.1:{port}", QT_QPA_PLATFORM="xcb")

    def start(run):
        with open(os.path.join(folder, f"client-{run}.out"), "wb") as out:
            return processes.start([os.path.join(app, "vexor")], env=env, cwd=home, stdout=out,
                                   stderr=subprocess.STDOUT)
    return app, start, display


def counted_displays(log, banner_id):
    """The displays the client's LCOUNT reports gave for `banner_id`."""
    total = 0
    for request in log_requests(log):
        if request["A"] != "LCOUNT":
            continue
        ids, counts = request.get("LOGOIDS", ""), request.get("LOG", "")
        for slot in range(10):
            if ids[slot * 6:slot * 6 + 6] == banner_id:
                total += int(counts[slot * 6:slot * 6 + 6] or "0", 16)
    return total


def client_story(processes, args, folder, port, log, banner_id):
    app, start, display = run_client(processes, args, folder, port)
    client = start(1)
    image = os.path.join(app, "advs", banner_id + ".gif")
    wait_for("the client's first cycle to fetch the new banner",
             lambda: (client.poll() is None or fail("the client ended")) and os.path.isfile(image))
    window = wait_for("the client's window", lambda: named_windows(display, "Vexor"))
    wid, _, _, x, y = window[0]
    # Displays count only while the window is active.
    subprocess.run(["xdotool", "windowfocus", wid], env=dict(os.environ, DISPLAY=display), timeout=Deadline)
    frames = banner_frames([image])
    wait_for("the banner pane to show the new banner",
             lambda: frames.get(grab_rgb(display, x, y, *BannerSize)), deadline=2 * Deadline)
    time.sleep(Interval * 3 / 1000)  # the rotation itself is what is tested: let it show the banner a few times
    check(processes.stop(client, signal.SIGTERM, timeout=Deadline) == 0, "the first run closes with status 0")
    before = len([r for r in log_requests(log) if r["A"] == "LCOUNT"])
    client = start(2)
    wait_for("the second run's LCOUNT report",
             lambda: len([r for r in log_requests(log) if r["A"] == "LCOUNT"]) > before)
    processes.stop(client, signal.SIGTERM, timeout=Deadline)
    displays = counted_displays(log, banner_id)
    check(displays > 0, f"the second cycle reports {displays} displays of the new banner", displays)
    return displays


def check_statistics(driver, base, banner_id, displays):
    from selenium.webdriver.common.by import By

    today = time.strftime("%Y-%m-%d", time.gmtime())
    driver.get(f"{base}/console/statistics?from={today}&to={today}&banner={banner_id}")
    cells = [td.text for td in driver.find_elements(By.XPATH, "//table[@id='rows']/tbody/tr/td")]
    check(cells[:3] == [banner_id, str(displays), "0"], "the statistics page shows the displays", cells)
    cookie = driver.get_cookie("vexor_session")["value"]
    request = urllib.request.Request(f"{base}/console/export/displays.csv?from={today}&to={today}",
                                     headers={"Cookie": "vexor_session=" + cookie})
    csv = urllib.request.urlopen(request, timeout=Deadline).read().decode()
    check(f"{today},{banner_id},{displays},0" in csv.splitlines() and csv.startswith("date,banner_id,displays,clicks"),
          "the CSV export holds the banner's day", csv)


def lock_out(driver, base):
    from selenium.webdriver.common.by import By

    driver.find_element(By.XPATH, "//button[text()='Log out']").click()
    driver.get(base + "/console/statistics")
    check(driver.current_url.endswith("/console/login"), "after logging out the console asks for a login",
          driver.current_url)
    for _ in range(5):
        browser.log_in(driver, base, "vendor", "wrong")
    browser.log_in(driver, base, "vendor", Password)
    text = driver.find_element(By.TAG_NAME, "main").text
    check("logins are refused for ten minutes" in text and driver.current_url.endswith("/console/login"),
          "five wrong passwords lock the user out, the right one too", text)


def run_test(args, folder, processes):
    base, port, log = start_server(processes, args.server, folder)
    driver = browser.start(os.path.join(folder, "profile"))
    try:
        browser.log_in(driver, base, "vendor", Password)
        check(driver.current_url == base + "/console/", "the login leads to the overview", driver.current_url)
        content = os.path.join(os.path.dirname(os.path.abspath(args.server)), "content")
        banner_id = upload_banner(driver, base, folder, content)
        new_lineup(driver, base, banner_id)
        displays = client_story(processes, args, folder, port, log, banner_id)
        check_statistics(driver, base, banner_id, displays)
        lock_out(driver, base)
    finally:
        driver.quit()


def show_files(folder):
    for name in ("server.out", "client-1.out", "client-2.out", "chromedriver.log"):
        text = read_text(os.path.join(folder, name))
        if text:
            print(f"---- {name} (last lines)")
            print("\n".join(text.splitlines()[-20:]))


def main():
    args = client_arguments(__doc__)
    problem = browser.missing() or ("" if shutil.which("Xvfb") else "Xvfb is not installed")
    for tool in ("xdotool", "xwininfo", "import", "convert"):
        problem = problem or ("" if shutil.which(tool) else f"{tool} is not installed (scripts/install-deps)")
    if problem:
        print("SKIP:", problem)
        return 77
    return run_in_temp_folder(lambda folder, processes: run_test(args, folder, processes), "vexor-console-",
                              alarm=TotalDeadline, keep=args.keep, on_failure=show_files)


if __name__ == "__main__":
    sys.exit(main())
