"""The accessibility bus of the test's D-Bus session, started and awaited before
pyatspi is used: on a loaded machine its first answer can take a while, and
pyatspi aborts the process when the bus does not answer."""
import os
import subprocess
import time


def start_a11y_bus(display, timeout=120):
    env = dict(os.environ, DISPLAY=display)
    bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + timeout
    while time.time() < deadline:
        r = subprocess.run(["dbus-send", "--session", "--print-reply", "--reply-timeout=20000",
                            "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                           capture_output=True, text=True)
        if r.returncode == 0 and "unix:" in r.stdout:
            return bus
        time.sleep(0.5)
    bus.terminate()
    raise TimeoutError("the accessibility bus did not come up")
