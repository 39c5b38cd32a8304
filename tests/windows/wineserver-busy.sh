# Sourced by the Wine check scripts. wineserver_busy PREFIX: true when a
# wineserver already serves PREFIX. Such a server lives in another namespace
# and would take our programs (and our `wineserver -k`) there: the scripts
# refuse instead.
wineserver_busy() {
    python3 - "$1" <<'PY'
import os, socket, sys
prefix = sys.argv[1]
st = os.stat(prefix)
tmp = f".wine-{os.getuid()}"
try:  # Debian's Wine keeps the server's directory name in the prefix
    tmp = open(os.path.join(prefix, "wineserver")).read().strip() or tmp
except OSError:
    pass
path = os.path.join("/tmp", tmp, f"server-{st.st_dev:x}-{st.st_ino:x}", "socket")
s = socket.socket(socket.AF_UNIX)
try:
    s.connect(path)
except OSError:
    sys.exit(1)
sys.exit(0)
PY
}
