#!/usr/bin/env bash
# Installs what is needed, builds, and runs the discovery server live: a private
# network segment (two network namespaces joined by a veth pair) with eight
# simulated devices that have no address on one side, and on the other side a
# client that creates the discovery server through its automation class, starts
# discovery with automatic assignment and prints the device table as the devices
# get their addresses. Needs root (namespaces, raw Ethernet).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/plain -j "$jobs"
bin=$(pwd)/build/plain/bin

devices=${DEVICES:-8}
ns_dev=vxdemo-devices ns_pc=vxdemo-pc
work=$(mktemp -d)
cleanup() {
  [ -n "${sim:-}" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null || true
  ip netns del "$ns_dev" 2>/dev/null || true
  ip netns del "$ns_pc" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cleanup_ns_only() { ip netns del "$ns_dev" 2>/dev/null || true; ip netns del "$ns_pc" 2>/dev/null || true; }
cleanup_ns_only

ip netns add "$ns_dev"
ip netns add "$ns_pc"
ip link add vxpc0 netns "$ns_pc" type veth peer name vxdev0 netns "$ns_dev"
ip -n "$ns_pc" addr add 10.77.0.1/24 dev vxpc0
ip -n "$ns_pc" link set vxpc0 up
ip -n "$ns_pc" link set lo up
ip -n "$ns_dev" link set vxdev0 up

echo "== $devices simulated devices without addresses on the segment"
ip netns exec "$ns_dev" "$bin/devsim" --interface vxdev0 --devices "$devices" > "$work/devsim.log" 2>&1 &
sim=$!

# The server keeps its address history and log beside its program; run a copy
# from a scratch folder so the demo leaves nothing behind.
mkdir -p "$work/bin" "$work/config" "$work/run"
cp "$bin"/scoutline "$bin"/vxscan "$work/bin/"
cp "$bin"/lib*.so "$work/bin/" 2>/dev/null || true
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
ip netns exec "$ns_pc" "$work/bin/scoutline" /RegServer
echo "== discovery on vxpc0 (10.77.0.1/24), automatic assignment on"
ip netns exec "$ns_pc" "$work/bin/vxscan" --adapter vxpc0 --autoassign --expect "$devices" --seconds 60
echo "== the simulator saw:"
grep -E '^(assigned|reservation)' "$work/devsim.log" | cut -c1-80 | head -20
echo "== address history kept by the server:"
sleep 6
cat "$work/bin/VXHistory.ini" 2>/dev/null || echo "(none written yet)"
