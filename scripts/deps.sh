# Installs the Debian packages that building and testing Vorland needs,
# when any of them is missing. Sourced by the other scripts.

vorland_packages=(
    cmake make g++ pkg-config
    qtbase5-dev qtbase5-dev-tools
    libpng-dev libsquish-dev zlib1g-dev liblz4-dev libfuse3-dev fuse3
    qt5-image-formats-plugins fonts-dejavu-core zsh
)

vorland_install_packages() {
    local missing=()
    local package
    for package in "${vorland_packages[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    # An index that fails to refresh (a mirror in sync) is tried once more,
    # then the lists there are serve; only packages that cannot be had fail.
    $sudo apt-get update -qq || $sudo apt-get update -qq ||
        echo "warning: some package indexes could not be refreshed; going on with the lists there are" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" || {
        echo "cannot install: ${missing[*]}" >&2
        return 1
    }
}
