# Shared by the benchmark scripts: sourced, not run.

# A tool that is missing is installed from Debian's packages when running
# as root, otherwise the script names the package and stops.
need() {  # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 && return
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    echo "Installing $2 (for $1)" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$2" >/dev/null ||
      { DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$2" >/dev/null; }
  fi
  command -v "$1" >/dev/null 2>&1 || { echo "missing $1: install the Debian package $2" >&2; exit 1; }
}
