"""The test suite's last step: no zeb_onvif of this build may still run once
every test has ended. Leftovers get a few seconds to finish exiting; any still
there are listed, ended by process id, and fail this check. Usage:
no_camera_left.py --bin path/to/zeb_onvif"""

import time

from camera import camera_processes, end_processes, parse_args, run_main


def main():
    args = parse_args()
    deadline = time.time() + 15
    while (left := camera_processes(args.bin)) and time.time() < deadline:
        time.sleep(0.2)
    if left:
        for pid in left:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace")
            print(f"left running: PID {pid}: {command}")
        end_processes(left)
        raise AssertionError(f"{len(left)} zeb_onvif process(es) outlived the tests")
    print("no zeb_onvif left running")


if __name__ == "__main__":
    run_main(main)
