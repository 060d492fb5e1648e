# Sourced by the other scripts: makes sure the Debian packages the project
# needs are installed. As root it installs what is missing; otherwise it
# prints the exact apt-get line and stops.
VANTREL_PACKAGES="g++ cmake ninja-build qt6-base-dev libqt6svg6 libgtest-dev zlib1g-dev libdeflate-dev dpkg-dev file appstream systemd
python3 xvfb xdotool dbus at-spi2-core python3-pyatspi"

vantrel_ensure_packages() {
    local missing=() pkg
    for pkg in $VANTREL_PACKAGES "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    else
        echo "Vantrel needs these Debian packages. Install them with:"
        echo "  sudo apt-get install ${missing[*]}"
        exit 1
    fi
}
