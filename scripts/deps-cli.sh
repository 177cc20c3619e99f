# Sourced by scripts/test.sh and scripts/demo.sh before the default build:
# what the command-line tool and the install-tree tier need (tmux runs the
# tool's live views in a terminal of a given size for their tests).
ensure_packages libcli11-dev pkg-config tmux
