# Sourced by scripts/test.sh and scripts/demo.sh before the default build:
# what the command-line tool and the install-tree tier need.
ensure_packages libcli11-dev pkg-config
