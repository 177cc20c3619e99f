# Sourced by scripts/test.sh and scripts/demo.sh before the default build
# (ensure_build_packages): what `ombrix record` and `ombrix play` need,
# libpcap's headers (and with them the library).
ensure_packages libpcap-dev
