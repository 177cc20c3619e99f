# Sourced by scripts/test.sh and scripts/demo.sh before the default build:
# what the command-line tool, its network bridge and the install-tree tier
# need.
ensure_packages libcli11-dev pkg-config libasio-dev libtomlplusplus-dev uuid-dev
