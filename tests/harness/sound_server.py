"""A PulseAudio server of the test's own (never a user session) with a null
sink as the default sink and a 1 kHz tone playing into it."""

import os
import signal
import subprocess
import time

from camera import check


def start_tone(d, rate, seconds, sink_options=()):
    """pulseaudio in directory d and its own session; the tone is s16le stereo
    at rate for seconds. Returns (the environment a client needs, processes)."""
    env = dict(os.environ, XDG_RUNTIME_DIR=d, HOME=d, PULSE_SERVER="unix:" + os.path.join(d, "pulse", "native"))
    env.pop("DISPLAY", None)
    spawn = lambda cmd: subprocess.Popen(cmd, shell=True, env=env, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, start_new_session=True)
    procs = [spawn("exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no"
                   " --load=module-native-protocol-unix")]
    deadline = time.time() + 20
    while subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode != 0:
        check(time.time() < deadline and procs[0].poll() is None, "pulseaudio did not start")
        time.sleep(0.1)
    for cmd in (["load-module", "module-null-sink", "sink_name=vs", *sink_options], ["set-default-sink", "vs"]):
        subprocess.run(["pactl"] + cmd, env=env, check=True, capture_output=True)
    procs.append(spawn(f"sox -n -r {rate} -c 2 -t raw -e signed -b 16 - synth {seconds} sine 1000 vol 0.5"
                       f" | pacat --raw --rate={rate} --channels=2 --format=s16le -d vs"))
    return {k: env[k] for k in ("XDG_RUNTIME_DIR", "HOME", "PULSE_SERVER")}, procs


def stop(procs):
    for p in procs:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)  # its own session: the group is ours
            p.wait()
