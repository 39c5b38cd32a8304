# Sourced by the Wine check scripts, which run in a network namespace of their
# own: ends whatever is still running in that namespace (Wine's service
# processes can outlive their wineserver), never anything outside it.
end_namespace_processes() {
    local me p
    me=$(readlink /proc/$$/ns/net)
    for d in /proc/[0-9]*; do
        p=${d#/proc/}
        [ "$p" = "$$" ] && continue
        [ "$(readlink "$d/ns/net" 2>/dev/null)" = "$me" ] && kill -9 "$p" 2>/dev/null
    done
    return 0
}
