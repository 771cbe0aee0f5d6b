"""Debian's chromium in headless mode through python3-selenium and
chromium-driver, as the console's browser test and scripts/console-screenshots
use it: a fresh profile in the given folder, nothing fetched from elsewhere."""

import os
import shutil

Chromium = "/usr/bin/chromium"
Driver = "/usr/bin/chromedriver"


def missing():
    """What is not installed, as a message; "" when everything is there."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium is not installed"
    for path, package in ((Chromium, "chromium"), (Driver, "chromium-driver")):
        if not os.path.exists(path) and not shutil.which(os.path.basename(path)):
            return f"{path} is missing (Debian package {package})"
    return ""


def start(profile, width=1280, height=800):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = Chromium
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={profile}", f"--window-size={width},{height}"):
        options.add_argument(flag)
    service = Service(executable_path=Driver, log_path=os.path.join(os.path.dirname(profile), "chromedriver.log"))
    driver = webdriver.Chrome(service=service, options=options)
    resize(driver, width, height)
    return driver


def resize(driver, width, height):
    """Makes the page's viewport width x height (the window's frame aside)."""
    driver.set_window_size(width, height)
    inner = driver.execute_script("return [window.innerWidth, window.innerHeight];")
    driver.set_window_size(width + (width - inner[0]), height + (height - inner[1]))


def fill(driver, field_id, text):
    from selenium.webdriver.common.by import By

    element = driver.find_element(By.ID, field_id)
    element.clear()
    element.send_keys(text)
    return element


def log_in(driver, base, user, password):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import WebDriverWait

    driver.get(base + "/console/login")
    fill(driver, "user", user)
    fill(driver, "password", password)
    button = driver.find_element(By.CSS_SELECTOR, "form button[type=submit]")
    button.click()
    # The answer replaces the page: until then the login form is still there,
    # and whatever the caller looks up next would belong to it.
    WebDriverWait(driver, 30).until(expected_conditions.staleness_of(button))
