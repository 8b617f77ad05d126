#!/usr/bin/env bash
# Installs what is needed, builds, and runs the console Vistrel live on a
# private network segment: two network namespaces joined by a veth pair, with
# twenty simulated devices of mixed families on one side (no addresses yet,
# SNMP agents answering once they have one) and the console on the other. The
# console starts the discovery server through its registered class, which hands
# out addresses from the range; the poller fills two polled columns.
#
# With a display the console opens as usual (close it to end the demo). Without
# one it runs offscreen for at most a minute, writes a picture of its main
# window (build/vistrel-demo.png) and prints the device table as text.
# Needs root (namespaces, raw Ethernet).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/plain -j "$jobs"
bin=$(pwd)/build/plain/bin
picture=$(pwd)/build/vistrel-demo.png

devices=${DEVICES:-20}
ns_dev=vxdemo-devices ns_pc=vxdemo-pc
work=$(mktemp -d)
cleanup() {
  [ -n "${sim:-}" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null || true
  ip netns del "$ns_dev" 2>/dev/null || true
  ip netns del "$ns_pc" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns del "$ns_dev" 2>/dev/null || true
ip netns del "$ns_pc" 2>/dev/null || true

ip netns add "$ns_dev"
ip netns add "$ns_pc"
ip link add vxpc0 netns "$ns_pc" type veth peer name vxdev0 netns "$ns_dev"
ip -n "$ns_pc" addr add 10.77.0.1/24 dev vxpc0
ip -n "$ns_pc" link set vxpc0 up
ip -n "$ns_pc" link set lo up
ip -n "$ns_dev" link set vxdev0 up

echo "== $devices simulated devices of mixed families, without addresses, on the segment"
ip netns exec "$ns_dev" "$bin/devsim" --interface vxdev0 --devices "$devices" \
  --families alder,birch,cedar,dogwood,alderamd,birchamd > "$work/devsim.log" 2>&1 &
sim=$!

# The programs keep their settings, logs and address history beside
# themselves: run copies from a scratch folder so the demo leaves nothing
# behind, with a registry of their own.
mkdir -p "$work/bin" "$work/config" "$work/run"
chmod 700 "$work/run"
cp "$bin"/scoutline "$bin"/vistrel "$bin"/vistrel_capture "$bin"/regsvr "$work/bin/"
cp "$bin"/lib*.so "$work/bin/"
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
ip netns exec "$ns_pc" "$work/bin/scoutline" /RegServer
(cd "$work/bin" && ./regsvr libquerant.so >/dev/null && ./regsvr libflashkit.so >/dev/null)

# The console's settings: the adapter with its range and automatic assignment,
# a short refresh period, and two polled columns shown at start (the device
# name, read once, and the received octets, a live counter).
cat > "$work/bin/vistrel.ini" <<'EOF'
[Configuration]
SCR Refresh Period=500
Adapter Index=[0] vxpc0
[Adapter List]
Adapter 0=[0] vxpc0-----10.77.0.100,10.77.0.199,1
[Poller]
Poll Rate=20
Timeout=1000
[Default Columns]
Description=S,1.3.6.1.2.1.1.1.0
Name=S,1.3.6.1.2.1.1.5.0
In Octets=D,1.3.6.1.2.1.2.2.1.10.1
Uptime=D,1.3.6.1.2.1.1.3.0
[Start Up Columns]
Name=110
In Octets=90
EOF

echo "== the console on vxpc0 (10.77.0.1/24), automatic assignment from 10.77.0.100"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  ip netns exec "$ns_pc" "$work/bin/vistrel"
else
  ip netns exec "$ns_pc" "$work/bin/vistrel_capture" --seconds 60 --expect "$devices" --filled \
    --png "$picture" --table
  echo "== picture of the main window: $picture"
fi
echo "== address history kept by the discovery server (saved when the console let go of it):"
for _ in $(seq 40); do
  grep -q '=10\.77\.0\.' "$work/bin/VXHistory.ini" 2>/dev/null && break
  sleep 0.5
done
sed -n '1,12p' "$work/bin/VXHistory.ini" 2>/dev/null || echo "(none written yet)"
