#!/usr/bin/env bash
# A throw-away LAN in network namespaces: a scanner namespace with a bridge,
# and host namespaces behind it. Every packet a test sends stays inside.
#
#   lab.sh up       build the lab (tearing down any earlier one first)
#   lab.sh down     remove it; safe to run any number of times
#   lab.sh exec CMD run CMD in the scanner namespace, with the lab's hosts file
#   lab.sh hostexec HOST CMD   run CMD in a host's namespace
#   lab.sh check    exit 0 if the lab can be built here, 77 (skip) if not
#   lab.sh crowd N  (after up) N more live hosts on 10.213.4.0/22, see below
#   lab.sh uncrowd  remove them again
#   lab.sh fill N   N neighbour entries held by another namespace, see below
#   lab.sh unfill   remove them again
#   lab.sh devices  (after up) devices that say what they are, see below
#   lab.sh undevices  remove them again
#   lab.sh vlans    (after up) two VLANs behind a trunk port, see below
#   lab.sh unvlans  remove them again
#   lab.sh phones N [OPTION...]  (after up) N dozing phones, see below
#   lab.sh visitor [SECONDS]     a device that stays SECONDS (40), see below
#   lab.sh unphones  remove the phones, the visitor and the deaf scanner
#   lab.sh deafexec CMD  run CMD in the deaf scanner's namespace, see below
#   lab.sh up6 | down6 | exec6 CMD   the same for the separate IPv6 lab below
#
# Hosts (10.213.0.0/20, scanner 10.213.0.1):
#   alpha    10.213.0.10  named alpha.lab, NetBIOS name service with a known unit ID
#   bravo    10.213.0.11  named bravo, Samba's name server
#   charlie  10.213.0.12  no name
#   delta    10.213.0.13  named delta, nothing on UDP 137 (port unreachable)
#   foxtrot  10.213.0.14  named foxtrot, UDP 137 open but silent
#   mute     10.213.0.15  named mute.lab, drops echo requests
#   crowd    10.213.0.100-149  fifty more live, unnamed addresses
#   router   10.213.0.254 and 10.213.16.1, forwarding to 10.213.16.0/24 behind it
#   behind   10.213.16.10 behind the router, named behind, NetBIOS with a real maker's unit ID
# and, none of them in the hosts file, with names only their own services give:
#   golf     10.213.0.30  NetBIOS name GOLF, workgroup LABGROUP; nothing on UDP 5353
#   hotel    10.213.0.31  mDNS name hotel.local; nothing on UDP 137
#   india    10.213.0.32  both: NetBIOS INDIA in workgroup LAB, mDNS india.local
#   juliet   10.213.0.33  both, each answer after a flood of hostile ones; its
#                         mDNS name holds control characters
#   kilo     10.213.0.34  mDNS answers come from its other address, 10.213.0.35
# and two for the controller's own ARP requests, answered by the project's
# arp_responder instead of the kernel:
#   late     10.213.2.40  answers ARP 300 ms late, as a dozing Wi-Fi adapter does;
#                         it also claims 10.213.2.41 with 02-00-5E-10-00-29, 20 ms
#                         after twin's own answer: an address conflict
#   twin     10.213.2.41
# Every other address of the /20 and of 10.213.16.0/24 is dead.
#
# The crowded network (lab.sh crowd N, at most 2046): N live hosts from
# 10.213.4.1 up (10.213.4.0 plus 1 to N), stood in for by the project's crowd_responder in the
# namespace "many": each answers ARP from a MAC of its own (02:cd and its
# address's four bytes), echo requests, and UDP with "port unreachable" (no
# NetBIOS). Every second one (odd numbers) is named c<number> in the
# scanner's hosts file. A kernel device per host would do the same, but each
# would take every broadcast: a thousand of them make a crowded sweep's
# answers seconds late on a small machine.
# $STATE/crowd lists "address MAC name-or--" for each.
#
# A machine that also runs containers (lab.sh fill N): the namespace "fill"
# holds N entries of the kernel's neighbour table, which every namespace
# shares (net.ipv4.neigh.default.gc_thresh3), all counted reachable for an
# hour, on a veth pair of its own that nothing else reaches; as many as fit
# when N is more. They stand for a container's hosts, so the lab's sweeps
# find the table full. Nothing is sent: the entries are added by hand.
#
# The devices (lab.sh devices), each in a namespace of its own on the bridge,
# run by the real programs where Debian has them (python3-zeroconf, minidlna,
# miniupnpd), none in the hosts file:
#   printer      10.213.3.10  DNS-SD _ipp._tcp and _printer._tcp, ty= and product=
#   cast         10.213.3.11  DNS-SD _googlecast._tcp, md=Chromecast Ultra
#   nas          10.213.3.12  DNS-SD _smb._tcp and _adisk._tcp, _device-info model=Xserve
#   camera       10.213.3.13  DNS-SD _hap._tcp with ci=17 (a HomeKit IP camera)
#   workstation  10.213.3.14  DNS-SD _workstation._tcp and _ssh._tcp
#   media        10.213.3.20  minidlna: a UPnP MediaServer with an empty media folder
#   gateway      10.213.3.21  miniupnpd: a UPnP InternetGatewayDevice, its external
#                             side a veth pair inside its own namespace
#   fileserver   10.213.3.30  Samba's nmbd as FILESERVER: <00> and <20> (a file
#                             server), in workgroup LAB
#   hostile      10.213.3.40  tests/tools/lab_hostile_device.py: oversized and looping
#                             DNS-SD answers, an endless slow description, an entity
#                             bomb, a redirect and a LOCATION off the host
# bravo runs nmbd too, but is named by the hosts file, so nobody asks it for
# its names; charlie says nothing about itself. $STATE/devices lists
# "address kind" for each device that came up.
#
# Adapter addresses (with ieee-data installed): alpha, foxtrot, mute, router
# and behind's unit ID carry real MA-L prefixes, bravo an MA-M one, charlie an
# MA-S one, read from /usr/share/ieee-data; delta's is locally administered.
# $STATE/link lists "address MAC maker" for every host on the /20, as a
# sweep's neighbour table should show it; $STATE/netbios lists behind's unit ID.
#
# The VLANs (lab.sh vlans): the kernel here has no 802.1Q interfaces, so the
# project's trunk_switch, in the namespace "switch", stands for a switch:
# the scanner's trunk0 is its trunk port (no IPv4 address, no route to the
# VLANs), each host below sits on an access port of one VLAN:
#   v10a     VLAN 10  10.215.10.10/24
#   v10b     VLAN 10  10.215.10.11/24
#   v20a     VLAN 20  10.215.20.10/24
#   v20b     VLAN 20  10.215.20.11/24, and 10.215.10.12/24: an address of
#                     VLAN 10's network on the wrong VLAN
# Their MACs share alpha's maker prefix. $STATE/vlans lists "VLAN address MAC"
# for each address a host holds.
#
# The phones (lab.sh phones N, at most 50): phone1 to phoneN at 10.213.1.10
# up, each in a namespace of its own whose kernel answers neither ARP nor
# echo; tests/tools/dozing_phone.py answers one try in five for it, and now
# and then sends a DHCP REQUEST naming it (phone1, ...) and an mDNS
# announcement of phone1.local; OPTIONs go to it (--dhcp-every SECONDS and
# --mdns-every SECONDS compress a day). With dnsmasq, the scanner's br0 runs
# it as the phones' DHCP server and their DHCP messages are udhcpc's. The
# visitor (lab.sh visitor) at 10.213.1.40 joins at once, answers every try,
# is named visitor by its DHCP messages alone and leaves after SECONDS.
# None is in the hosts file. The deaf scanner (namespace PREFIX-deaf,
# 10.213.0.2, hosts file of its own) is a second scanner on the bridge that
# hears none of what they say of their own accord: the bridge drops their
# DHCP, mDNS and ARP requests on its way, so that a watch there sees the
# phones only when they answer. $STATE/phones lists "address name" for each.
#
# The IPv6 lab, a LAN of its own so that the main lab's sweeps stay as they
# are (scanner 10.214.0.1 and 2001:db8:214::1/64 on its bridge; IPv6 only
# where said, without duplicate address detection so that addresses are
# usable at once):
#   dual1    10.214.0.10, 2001:db8:214::10 and its link-local address
#   dual2    10.214.0.11, 2001:db8:214::11 and link-local
#   v6only   no IPv4 address: 2001:db8:214::20 and link-local; a real maker's MAC
#   v4only   10.214.0.12 with IPv6 disabled
# $STATE6/ipv6 lists "IPv4-or-- MAC IPv6-address..." for each of them, and
# $STATE6/maker the IPv6-only host's maker.
set -euo pipefail

PREFIX=${HOSTSWEEP_LAB_PREFIX:-hs}
SCAN=$PREFIX-scan
STATE=${HOSTSWEEP_LAB_STATE:-/run/hostsweep-lab-$PREFIX}
HERE=$(cd "$(dirname "$0")" && pwd)
SKIP=77

readonly HOSTS="alpha:10.213.0.10 bravo:10.213.0.11 charlie:10.213.0.12 delta:10.213.0.13 \
foxtrot:10.213.0.14 mute:10.213.0.15 crowd:10.213.0.100 router:10.213.0.254 \
golf:10.213.0.30 hotel:10.213.0.31 india:10.213.0.32 juliet:10.213.0.33 kilo:10.213.0.34 \
late:10.213.2.40 twin:10.213.2.41"
readonly ROUTED="behind:10.213.16.10"
SCAN6=$PREFIX-scan6
STATE6=$STATE-6
readonly HOSTS6="dual1 dual2 v6only v4only"
REGISTRIES=${HOSTSWEEP_IEEE_DATA:-/usr/share/ieee-data}

check() {
  if [[ $(id -u) -ne 0 ]]; then
    echo "lab: skipped: building network namespaces needs root" >&2
    return $SKIP
  fi
  if ! command -v ip >/dev/null || ! ip netns list >/dev/null 2>&1; then
    echo "lab: skipped: 'ip netns' is not available (install iproute2)" >&2
    return $SKIP
  fi
}

ns_of() { echo "$PREFIX-$1"; }

down() {
  if [[ -d $STATE ]]; then
    for pidfile in "$STATE"/*.pid; do
      [[ -e $pidfile ]] && kill "$(cat "$pidfile")" 2>/dev/null || true
    done
  fi
  for entry in $HOSTS $ROUTED; do
    ip netns del "$(ns_of "${entry%%:*}")" 2>/dev/null || true
  done
  ip netns del "$(ns_of many)" 2>/dev/null || true
  ip netns del "$(ns_of dhcp)" 2>/dev/null || true  # integration.arp's DHCP client
  unphones
  unfill
  undevices
  unvlans
  ip netns del "$SCAN" 2>/dev/null || true
  rm -rf "/etc/netns/$SCAN" "$STATE"
}

crowd() {
  local count=$1 many i address mac name
  many=$(ns_of many)
  ((count >= 1 && count <= 2046)) || { echo "lab: crowd takes 1 to 2046 hosts" >&2; return 2; }
  ip netns list | grep -qw "$SCAN" || { echo "lab: the lab is not up" >&2; return 1; }
  [[ -x $TOOLS/crowd_responder ]] || { echo "lab: no crowd_responder in $TOOLS" >&2; return 1; }
  uncrowd
  trap 'echo "lab: crowd setup failed; removing it" >&2; uncrowd' ERR
  ip netns add "$many"
  ip netns exec "$many" sysctl -qw net.ipv6.conf.default.disable_ipv6=1 \
    net.ipv6.conf.all.disable_ipv6=1
  ip link add v-many netns "$SCAN" type veth peer name eth0 netns "$many"
  ip -n "$SCAN" link set v-many master br0 up
  ip -n "$many" link set eth0 up
  : >"$STATE/crowd"
  for i in $(seq "$count"); do
    address=10.213.$((4 + i / 256)).$((i % 256))
    mac=$(printf '02:cd:0a:d5:%02x:%02x' $((4 + i / 256)) $((i % 256)))
    name=-
    ((i % 2)) && name=c$i
    echo "$address $mac $name" >>"$STATE/crowd"
  done
  awk '$3 != "-" {print $1, $3}' "$STATE/crowd" >>"/etc/netns/$SCAN/hosts"
  start_service many crowd "$TOOLS/crowd_responder" --interface eth0 --first 10.213.4.1 \
    --count "$count"
  await_ready many crowd
  trap - ERR
}

uncrowd() {
  [[ -e $STATE/many-crowd.pid ]] && kill "$(cat "$STATE/many-crowd.pid")" 2>/dev/null || true
  ip netns del "$(ns_of many)" 2>/dev/null || true
  ip netns del "$(ns_of dhcp)" 2>/dev/null || true  # integration.arp's DHCP client
  # The crowd's neighbour entries stay reachable for up to 45 s, in a table
  # the whole machine shares: the sweeps after it would find it full.
  ip -n "$SCAN" neigh flush dev br0 2>/dev/null || true
  # Rewritten in place: sweeps already running in the namespace see this file.
  local hosts=/etc/netns/$SCAN/hosts kept
  if [[ -f $hosts ]]; then
    kept=$(grep -vE '^10\.213\.([4-9]|1[0-2])\.' "$hosts")
    echo "$kept" >"$hosts"
  fi
  rm -f "$STATE/crowd" "$STATE/many-crowd.pid" "$STATE/many-crowd.log"
}

fill() {
  local count=$1 fill i
  fill=$(ns_of fill)
  ((count >= 1 && count <= 65535)) || { echo "lab: fill takes 1 to 65535 entries" >&2; return 2; }
  unfill
  ip netns add "$fill"
  ip netns exec "$fill" sysctl -qw net.ipv6.conf.default.disable_ipv6=1 \
    net.ipv6.conf.all.disable_ipv6=1
  ip -n "$fill" link add f0 type veth peer name f1
  ip -n "$fill" link set f1 up
  ip -n "$fill" link set f0 up
  ip netns exec "$fill" sysctl -qw net.ipv4.neigh.f0.base_reachable_time_ms=3600000
  # Adds past the table's limit fail: those entries are not held.
  for i in $(seq "$count"); do
    printf 'neigh add 10.99.%d.%d lladdr 02:ce:00:00:%02x:%02x dev f0 nud reachable\n' \
      $((i / 256)) $((i % 256)) $((i / 256)) $((i % 256))
  done | ip -n "$fill" -force -batch - 2>/dev/null || true
}

unfill() { ip netns del "$(ns_of fill)" 2>/dev/null || true; }

readonly VLAN_HOSTS="v10a:10:10.215.10.10 v10b:10:10.215.10.11 v20a:20:10.215.20.10 \
v20b:20:10.215.20.11"

vlans() {
  local switch entry name vlan address ns mac prefix access=()
  switch=$(ns_of switch)
  ip netns list | grep -qw "$SCAN" || { echo "lab: the lab is not up" >&2; return 1; }
  [[ -x $TOOLS/trunk_switch ]] || { echo "lab: no trunk_switch in $TOOLS" >&2; return 1; }
  unvlans
  trap 'echo "lab: VLAN setup failed; removing it" >&2; unvlans' ERR
  prefix=$(awk '$1 == "10.213.0.10" {print substr($2, 1, 8)}' "$STATE/link" 2>/dev/null)
  prefix=${prefix:-02:00:5e}
  ip netns add "$switch"
  ip link add trunk0 netns "$SCAN" type veth peer name trunk netns "$switch"
  ip -n "$switch" link set trunk up
  ip -n "$SCAN" link set trunk0 up
  : >"$STATE/vlans"
  for entry in $VLAN_HOSTS; do
    IFS=: read -r name vlan address <<<"$entry"
    ns=$(ns_of "$name")
    mac=$prefix:$(printf '%02x:%02x:%02x' "$vlan" "${address##*.}" "${address##*.}")
    ip netns add "$ns"
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.disable_ipv6=1 \
      net.ipv6.conf.all.disable_ipv6=1
    ip link add "a-$name" netns "$switch" type veth peer name eth0 netns "$ns"
    ip -n "$ns" link set eth0 address "$mac" up
    ip -n "$ns" addr add "$address/24" dev eth0
    ip -n "$switch" link set "a-$name" up
    access+=(--access "a-$name:$vlan")
    echo "$vlan $address $mac" >>"$STATE/vlans"
  done
  ip -n "$(ns_of v20b)" addr add 10.215.10.12/24 dev eth0
  echo "20 10.215.10.12 $mac" >>"$STATE/vlans"
  start_service switch trunk "$TOOLS/trunk_switch" --trunk trunk "${access[@]}"
  await_ready switch trunk
  trap - ERR
}

unvlans() {
  local entry
  [[ -e $STATE/switch-trunk.pid ]] && kill "$(cat "$STATE/switch-trunk.pid")" 2>/dev/null || true
  for entry in $VLAN_HOSTS; do
    ip netns del "$(ns_of "${entry%%:*}")" 2>/dev/null || true
  done
  ip netns del "$(ns_of switch)" 2>/dev/null || true
  rm -f "$STATE/vlans" "$STATE/switch-trunk.pid" "$STATE/switch-trunk.log"
}

# A namespace goes some time after its deletion, and its link on the bridge
# with it: the link goes first, so that a host of the same name can come back
# at once.
drop_host() {
  ip -n "$SCAN" link del "v-$1" 2>/dev/null || true
  ip netns del "$(ns_of "$1")" 2>/dev/null || true
}

add_host() {
  local name=$1 address=$2 ns
  ns=$(ns_of "$name")
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  ip link add "v-$name" netns "$SCAN" type veth peer name eth0 netns "$ns"
  ip -n "$SCAN" link set "v-$name" master br0 up
  ip -n "$ns" addr add "$address/20" dev eth0
  ip -n "$ns" link set eth0 up
}

up() {
  check
  down
  trap 'echo "lab: setup failed; tearing down" >&2; down' ERR
  mkdir -p "$STATE" "/etc/netns/$SCAN"
  ip netns add "$SCAN"
  ip -n "$SCAN" link set lo up
  ip -n "$SCAN" link add br0 type bridge
  ip -n "$SCAN" addr add 10.213.0.1/20 dev br0
  ip -n "$SCAN" link set br0 up
  # A /20 sweep keeps thousands of neighbour entries in flight.
  ip netns exec "$SCAN" sysctl -qw net.ipv4.neigh.default.gc_thresh1=8192 \
    net.ipv4.neigh.default.gc_thresh2=16384 net.ipv4.neigh.default.gc_thresh3=32768 2>/dev/null || true
  for entry in $HOSTS; do
    add_host "${entry%%:*}" "${entry#*:}"
  done
  for last in $(seq 101 149); do
    ip -n "$(ns_of crowd)" addr add "10.213.0.$last/20" dev eth0
  done
  ip -n "$(ns_of kilo)" addr add 10.213.0.35/20 dev eth0
  ip netns exec "$(ns_of mute)" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  # late's kernel answers no ARP request: its arp_responder does, late.
  ip netns exec "$(ns_of late)" sysctl -qw net.ipv4.conf.all.arp_ignore=8 \
    net.ipv4.conf.eth0.arp_ignore=8
  add_routed_network
  assign_macs
  # Names come from this file alone, so no lookup ever leaves the lab.
  cat >"/etc/netns/$SCAN/hosts" <<HOSTS
127.0.0.1 localhost
10.213.0.1 scanner
10.213.0.10 alpha.lab alpha
10.213.0.11 bravo
10.213.0.13 delta
10.213.0.14 foxtrot
10.213.0.15 mute.lab
10.213.16.10 behind
HOSTS
  echo "hosts: files" >"/etc/netns/$SCAN/nsswitch.conf"
  start_services
  trap - ERR
}

# A router on the LAN and one host behind it, so that a routed address is
# swept through a gateway whose own neighbour entry it must not inherit.
add_routed_network() {
  local router behind
  router=$(ns_of router)
  behind=$(ns_of behind)
  ip netns add "$behind"
  ip -n "$behind" link set lo up
  ip link add eth1 netns "$router" type veth peer name eth0 netns "$behind"
  ip -n "$router" addr add 10.213.16.1/24 dev eth1
  ip -n "$router" link set eth1 up
  ip -n "$behind" addr add 10.213.16.10/24 dev eth0
  ip -n "$behind" link set eth0 up
  ip -n "$behind" route add default via 10.213.16.1
  ip netns exec "$router" sysctl -qw net.ipv4.ip_forward=1
  ip -n "$SCAN" route add 10.213.16.0/24 via 10.213.0.254
}

# registry_entries FILE COUNT: "HEX MAKER" for the first COUNT assignments of
# a registry whose maker name is plain text and whose addresses are unicast
# and globally administered (low two bits of the first octet clear).
registry_entries() {
  awk -F, -v count="$2" 'NR > 1 && $3 ~ /^[A-Za-z0-9][A-Za-z0-9 .&-]*[A-Za-z0-9.]$/ &&
    $3 != "IEEE Registration Authority" && $3 != "Private" && substr($2, 2, 1) ~ /[048C]/ {
      print $2, $3; if (++n == count) exit }' "$REGISTRIES/$1"
}

# hyphenated HEX12: "AABBCCDDEEFF" as "AA-BB-CC-DD-EE-FF".
hyphenated() { sed 's/../&-/g; s/-$//' <<<"$1"; }
# as_shown MAC: as hostsweep writes MACs, "aa:bb:cc:dd:ee:ff".
as_shown() { tr A-F- a-f: <<<"$1"; }

# Fixed adapter addresses, so that tests know each host's MAC and maker.
assign_macs() {
  local -a picks=()
  : >"$STATE/link"
  if [[ ! -r $REGISTRIES/oui.csv ]]; then
    echo "lab: no $REGISTRIES/oui.csv (package ieee-data); adapter addresses stay random" >&2
    return 0
  fi
  mapfile -t picks < <(registry_entries oui.csv 5; registry_entries mam.csv 1;
    registry_entries oui36.csv 1)
  # host:pick:suffix; the suffix pads each prefix to twelve digits.
  local plan="alpha:0:00000A foxtrot:1:00000E mute:2:00000F router:3:0000FE bravo:5:0000B \
charlie:6:00C" entry host pick suffix prefix maker mac
  for entry in $plan; do
    IFS=: read -r host pick suffix <<<"$entry"
    prefix=${picks[$pick]%% *}
    maker=${picks[$pick]#* }
    mac=$(hyphenated "$prefix$suffix")
    ip -n "$(ns_of "$host")" link set eth0 address "${mac//-/:}"
    echo "$(host_address "$host") $(as_shown "$mac") $maker" >>"$STATE/link"
  done
  ip -n "$(ns_of delta)" link set eth0 address 0a:13:00:00:00:0d
  echo "10.213.0.13 0a:13:00:00:00:0d (locally administered)" >>"$STATE/link"
  mac=$(ip -n "$(ns_of crowd)" -br link show eth0 | awk '{print $3}')
  for last in $(seq 100 149); do
    echo "10.213.0.$last $mac (locally administered)" >>"$STATE/link"
  done
  # The hosts named by their own services keep their random (local) addresses.
  for entry in golf:30 hotel:31 india:32 juliet:33 kilo:34 kilo:35; do
    mac=$(ip -n "$(ns_of "${entry%%:*}")" -br link show eth0 | awk '{print $3}')
    echo "10.213.0.${entry#*:} $mac (locally administered)" >>"$STATE/link"
  done
  echo "10.213.16.10 $(as_shown "$(hyphenated "${picks[4]%% *}000010")") ${picks[4]#* }" \
    >"$STATE/netbios"
}

host_address() {
  local entry
  for entry in $HOSTS $ROUTED; do
    [[ ${entry%%:*} == "$1" ]] && echo "${entry#*:}"
  done
}

# Services on lab hosts, started when their programs are there; each leaves a
# pid file in $STATE so that down() can end it. The project's own test tools
# are found in $HOSTSWEEP_LAB_TOOLS (a build's tests/ directory; the default
# build's when unset).
TOOLS=${HOSTSWEEP_LAB_TOOLS:-$HERE/../../build/default/tests}
readonly ALPHA_UNIT_ID=02-00-5E-10-00-0A

# start_service HOST NAME COMMAND...: runs COMMAND in HOST's namespace.
start_service() {
  local host=$1 name=$2
  shift 2
  ip netns exec "$(ns_of "$host")" "$@" </dev/null >>"$STATE/$host-$name.log" 2>&1 &
  echo $! >"$STATE/$host-$name.pid"
}

# Waits until something in HOST's namespace has UDP PORT (137 by default) open.
await_name_service() {
  local host=$1 port=${2:-137}
  for _ in $(seq 100); do
    [[ -n $(ip netns exec "$(ns_of "$host")" ss -Hnlu "sport = :$port") ]] && return 0
    sleep 0.05
  done
  echo "lab: no service came up on $host port $port" >&2
  return 1
}

# Waits until the service NAME on HOST has said "ready".
await_ready() {
  for _ in $(seq 100); do
    grep -qx ready "$STATE/$1-$2.log" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "lab: $2 on $1 did not come up" >&2
  return 1
}

# start_nmbd HOST NAME ADDRESS: Samba's name server as HOST, named NAME.
start_nmbd() {
  local host=$1 name=$2 address=$3 dir=$STATE/$1-nmbd
  mkdir -p "$dir"/{lock,state,cache,private,pid,log}
  cat >"$dir/smb.conf" <<CONF
[global]
  netbios name = $name
  workgroup = LAB
  interfaces = $address/20
  bind interfaces only = yes
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  private dir = $dir/private
  pid directory = $dir/pid
  log file = $dir/log/nmbd.log
  local master = no
  domain master = no
  preferred master = no
  dns proxy = no
CONF
  start_service "$host" nmbd nmbd --foreground --no-process-group --configfile="$dir/smb.conf"
  await_name_service "$host"
}

start_services() {
  if [[ -x $TOOLS/nbns_responder ]]; then
    start_service alpha nbns "$TOOLS/nbns_responder" --address 10.213.0.10 \
      --unit-id "$ALPHA_UNIT_ID" --name ALPHA --name ALPHA/20 --name LAB/00/group
    start_service foxtrot nbns "$TOOLS/nbns_responder" --address 10.213.0.14 --reply silent
    start_service golf nbns "$TOOLS/nbns_responder" --address 10.213.0.30 \
      --name GOLF --name GOLF/20 --name LABGROUP/00/group
    start_service india nbns "$TOOLS/nbns_responder" --address 10.213.0.32 \
      --name INDIA --name LAB/00/group
    start_service juliet nbns "$TOOLS/nbns_responder" --address 10.213.0.33 \
      --name JULIET --name LAB/00/group --reply flood
    for host in alpha foxtrot golf india juliet; do
      await_name_service $host
    done
    if [[ -s $STATE/netbios ]]; then
      start_service behind nbns "$TOOLS/nbns_responder" --address 10.213.16.10 \
        --unit-id "$(cut -d' ' -f2 "$STATE/netbios" | tr a-f: A-F-)" --name BEHIND
      await_name_service behind
    fi
  else
    echo "lab: no nbns_responder in HOSTSWEEP_LAB_TOOLS; alpha and foxtrot run no name service" >&2
  fi
  if [[ -x $TOOLS/mdns_responder ]]; then
    start_service hotel mdns "$TOOLS/mdns_responder" --address 10.213.0.31 --name hotel.local
    start_service india mdns "$TOOLS/mdns_responder" --address 10.213.0.32 --name india.local
    start_service juliet mdns "$TOOLS/mdns_responder" --address 10.213.0.33 \
      --name $'juliet\e[2J.local' --reply flood
    start_service kilo mdns "$TOOLS/mdns_responder" --address 10.213.0.34 --name kilo.local \
      --reply from --from 10.213.0.35
    for host in hotel india juliet kilo; do
      await_name_service $host 5353
    done
  else
    echo "lab: no mdns_responder in HOSTSWEEP_LAB_TOOLS; hotel, india, juliet and kilo answer no mDNS" >&2
  fi
  if [[ -x $TOOLS/arp_responder ]]; then
    start_service late arp "$TOOLS/arp_responder" --interface eth0 --address 10.213.2.40 \
      --delay 300
    start_service late arp-twin "$TOOLS/arp_responder" --interface eth0 --address 10.213.2.41 \
      --mac 02-00-5E-10-00-29 --delay 20
    for name in arp arp-twin; do
      await_ready late $name
    done
  else
    echo "lab: no arp_responder in HOSTSWEEP_LAB_TOOLS; late answers no ARP, nobody claims twin's address" >&2
  fi
  if command -v nmbd >/dev/null; then
    start_nmbd bravo BRAVO 10.213.0.11
  else
    echo "lab: no nmbd (package samba); bravo runs no name service" >&2
  fi
}

readonly DEVICES="printer:10.213.3.10 cast:10.213.3.11 nas:10.213.3.12 camera:10.213.3.13 \
workstation:10.213.3.14 media:10.213.3.20 gateway:10.213.3.21 fileserver:10.213.3.30 \
hostile:10.213.3.40"

undevices() {
  local entry pidfile
  for entry in $DEVICES; do
    # A process left in a namespace would keep it, and its link on the bridge.
    for pidfile in "$STATE/${entry%%:*}"-*.pid; do
      [[ -e $pidfile ]] && kill "$(cat "$pidfile")" 2>/dev/null || true
    done
    ip netns del "$(ns_of "${entry%%:*}")" 2>/dev/null || true
  done
  rm -rf "${STATE:?}"/*-device.* "${STATE:?}"/fileserver-nmbd* "${STATE:?}/devices" \
    "${STATE:?}/media" "${STATE:?}/gateway"
}

# start_device NAME ADDRESS COMMAND...: a device's namespace on the bridge,
# multicast routed out of its one interface, and COMMAND run in it.
start_device() {
  local name=$1 address=$2
  shift 2
  add_host "$name" "$address"
  ip -n "$(ns_of "$name")" route add 224.0.0.0/4 dev eth0
  start_service "$name" device "$@"
}

start_minidlna() {
  local dir=$STATE/media
  mkdir -p "$dir"/{db,log,empty}
  cat >"$dir/minidlna.conf" <<CONF
network_interface=eth0
port=8200
media_dir=$dir/empty
db_dir=$dir/db
log_dir=$dir/log
friendly_name=Lab Media
model_name=Lab Media Server
inotify=no
notify_interval=900
CONF
  start_device media 10.213.3.20 minidlnad -d -f "$dir/minidlna.conf" -P "$dir/minidlna.pid"
}

# miniupnpd wants an external interface with an address: a veth pair within
# its own namespace, on a documentation network nothing routes to.
start_miniupnpd() {
  local dir=$STATE/gateway ns
  ns=$(ns_of gateway)
  mkdir -p "$dir"
  cat >"$dir/miniupnpd.conf" <<CONF
ext_ifname=ext0
listening_ip=eth0
http_port=5000
enable_natpmp=no
enable_upnp=yes
secure_mode=yes
uuid=3d3cec3a-8cf0-11e0-98ee-001a6bb2d5c0
friendly_name=Lab Gateway
manufacturer_name=Lab Networks
model_name=Lab Router 1
lease_file=$dir/leases
allow 1024-65535 0.0.0.0/0 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
  add_host gateway 10.213.3.21
  ip -n "$ns" route add 224.0.0.0/4 dev eth0
  ip -n "$ns" link add ext0 type veth peer name ext1
  ip -n "$ns" addr add 192.0.2.2/24 dev ext0
  ip -n "$ns" link set ext0 up
  ip -n "$ns" link set ext1 up
  start_service gateway device miniupnpd -d -f "$dir/miniupnpd.conf" -P "$dir/miniupnpd.pid"
}

# Waits until something in HOST's namespace listens on TCP PORT.
await_tcp() {
  for _ in $(seq 100); do
    [[ -n $(ip netns exec "$(ns_of "$1")" ss -Hntl "sport = :$2") ]] && return 0
    sleep 0.05
  done
  echo "lab: nothing came up on $1 TCP port $2" >&2
  return 1
}

devices() {
  undevices
  trap 'echo "lab: devices failed; removing them" >&2; undevices' ERR
  : >"$STATE/devices"
  local python=/usr/bin/python3 entry name address
  if "$python" -c 'import zeroconf' 2>/dev/null; then
    for entry in printer:10.213.3.10 cast:10.213.3.11 nas:10.213.3.12 camera:10.213.3.13 \
      workstation:10.213.3.14; do
      name=${entry%%:*} address=${entry#*:}
      start_device "$name" "$address" "$python" "$HERE/../tools/lab_device.py" "$name" "$address"
      await_ready "$name" device
      echo "$address $name" >>"$STATE/devices"
    done
  else
    echo "lab: no python3-zeroconf; no DNS-SD devices" >&2
  fi
  if command -v minidlnad >/dev/null; then
    start_minidlna
    await_tcp media 8200
    echo "10.213.3.20 media" >>"$STATE/devices"
  else
    echo "lab: no minidlna; no media server" >&2
  fi
  if command -v miniupnpd >/dev/null; then
    start_miniupnpd
    await_tcp gateway 5000
    echo "10.213.3.21 gateway" >>"$STATE/devices"
  else
    echo "lab: no miniupnpd; no gateway" >&2
  fi
  if command -v nmbd >/dev/null; then
    add_host fileserver 10.213.3.30
    start_nmbd fileserver FILESERVER 10.213.3.30
    echo "10.213.3.30 fileserver" >>"$STATE/devices"
  else
    echo "lab: no nmbd (package samba); no file server" >&2
  fi
  start_device hostile 10.213.3.40 "$python" "$HERE/../tools/lab_hostile_device.py" 10.213.3.40
  await_ready hostile device
  echo "10.213.3.40 hostile" >>"$STATE/devices"
  trap - ERR
}

readonly PHONE_TOOL=$HERE/../tools/dozing_phone.py

unphones() {
  local pidfile ns
  for pidfile in "$STATE"/phone*-phone.pid "$STATE"/visitor-phone.pid "$STATE"/scan-dhcp.pid; do
    [[ -e $pidfile ]] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  for ns in $(ip netns list | awk -v p="$PREFIX-" '$1 ~ "^" p "(phone[0-9]+|visitor|deaf)$" {print $1}'); do
    drop_host "${ns#"$PREFIX"-}"
  done
  rm -rf "${STATE:?}"/phone* "${STATE:?}"/visitor-* "${STATE:?}"/scan-dhcp.* "${STATE:?}/dhcp" \
    "/etc/netns/$PREFIX-deaf"
}

# A DHCP server for the phones on the scanner's bridge, when dnsmasq is there.
start_dhcp_server() {
  command -v dnsmasq >/dev/null || { echo "lab: no dnsmasq; the phones send their own DHCP REQUESTs" >&2; return 0; }
  mkdir -p "$STATE/dhcp"
  ip netns exec "$SCAN" dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv \
    --no-hosts --port=0 --user=root --pid-file --interface=br0 --bind-interfaces --no-ping \
    --dhcp-authoritative --dhcp-range=10.213.1.10,10.213.1.99,255.255.240.0,2m \
    --dhcp-leasefile="$STATE/dhcp/leases" --log-facility="$STATE/dhcp/log" \
    </dev/null >>"$STATE/scan-dhcp.log" 2>&1 &
  echo $! >"$STATE/scan-dhcp.pid"
}

# The deaf scanner: the bridge drops, on their way to it, the UDP to DHCP's
# and mDNS's ports and the ARP requests that the phones' addresses send.
add_deaf_scanner() {
  local deaf
  deaf=$(ns_of deaf)
  ip netns add "$deaf"
  ip -n "$deaf" link set lo up
  ip link add v-deaf netns "$SCAN" type veth peer name eth0 netns "$deaf"
  ip -n "$SCAN" link set v-deaf master br0 up
  ip -n "$deaf" addr add 10.213.0.2/20 dev eth0
  ip -n "$deaf" link set eth0 up
  ip -n "$SCAN" route add 224.0.0.0/4 dev br0 2>/dev/null || true
  # No drop action here: the dropped go to a class whose queue holds none.
  tc -n "$SCAN" qdisc add dev v-deaf root handle 1: htb default 1
  tc -n "$SCAN" class add dev v-deaf parent 1: classid 1:1 htb rate 10gbit quantum 60000
  tc -n "$SCAN" class add dev v-deaf parent 1: classid 1:2 htb rate 10gbit quantum 60000
  tc -n "$SCAN" qdisc add dev v-deaf parent 1:2 handle 2: pfifo limit 0
  local port
  for port in 67 5353; do
    tc -n "$SCAN" filter add dev v-deaf parent 1: protocol ip prio 1 u32 \
      match ip protocol 17 0xff match ip dport "$port" 0xffff flowid 1:2
  done
  # An ARP request (operation 1) from 10.213.1.0/24.
  tc -n "$SCAN" filter add dev v-deaf parent 1: protocol arp prio 2 u32 \
    match u32 0x00000001 0x0000ffff at 4 match u32 0x00000ad5 0x0000ffff at 12 \
    match u32 0x01000000 0xff000000 at 16 flowid 1:2
  mkdir -p "/etc/netns/$deaf"
  cp "/etc/netns/$SCAN/hosts" "/etc/netns/$SCAN/nsswitch.conf" "/etc/netns/$deaf/"
}

# add_phone NAME ADDRESS OPTION...: a namespace whose kernel answers no ARP
# or echo, and dozing_phone.py answering for it.
add_phone() {
  local name=$1 address=$2 ns client=()
  shift 2
  ns=$(ns_of "$name")
  add_host "$name" "$address"
  ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.arp_ignore=8 \
    net.ipv4.conf.eth0.arp_ignore=8 net.ipv4.icmp_echo_ignore_all=1 \
    net.ipv6.conf.all.disable_ipv6=1
  ip -n "$ns" route add 224.0.0.0/4 dev eth0
  [[ -e $STATE/scan-dhcp.pid ]] && client=(--udhcpc "$(command -v udhcpc || echo)")
  [[ ${client[1]:-} ]] || client=()
  start_service "$name" phone /usr/bin/python3 "$PHONE_TOOL" "$address" "$name" "${client[@]}" "$@"
  await_ready "$name" phone
  echo "$address $name" >>"$STATE/phones"
}

phones() {
  local count=$1 i
  shift
  ((count >= 1 && count <= 50)) || { echo "lab: phones takes 1 to 50 phones" >&2; return 2; }
  ip netns list | grep -qw "$SCAN" || { echo "lab: the lab is not up" >&2; return 1; }
  unphones
  trap 'echo "lab: phones failed; removing them" >&2; unphones' ERR
  start_dhcp_server
  add_deaf_scanner
  : >"$STATE/phones"
  for i in $(seq "$count"); do
    add_phone "phone$i" "10.213.1.$((9 + i))" "$@"
  done
  trap - ERR
}

visitor() {
  local seconds=${1:-40}
  drop_host visitor
  add_phone visitor 10.213.1.40 --odds 1 --mdns-every 0 --leave-after "$seconds"
}

down6() {
  for host in $HOSTS6; do
    ip netns del "$(ns_of "$host")" 2>/dev/null || true
  done
  ip netns del "$SCAN6" 2>/dev/null || true
  rm -rf "$STATE6"
}

# add_host6 NAME MAC IPV4-or-- IPV6...: a host on the IPv6 lab's bridge; with
# no IPv6 address, IPv6 is disabled in its namespace.
add_host6() {
  local name=$1 mac=$2 ipv4=$3 ns address
  shift 3
  ns=$(ns_of "$name")
  ip netns add "$ns"
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.accept_dad=0 \
    net.ipv6.conf.default.disable_ipv6=$(($# == 0))
  ip link add "v-$name" netns "$SCAN6" type veth peer name eth0 netns "$ns"
  ip -n "$ns" link set eth0 address "$mac"
  ip -n "$SCAN6" link set "v-$name" master br0 up
  [[ $ipv4 == -- ]] || ip -n "$ns" addr add "$ipv4/24" dev eth0
  for address in "$@"; do
    ip -n "$ns" addr add "$address/64" dev eth0 nodad
  done
  ip -n "$ns" link set eth0 up
  local linklocal
  linklocal=$(ip -n "$ns" -6 -o addr show dev eth0 scope link | awk '{print $4}')
  echo "$ipv4 $(as_shown "$mac") $* ${linklocal%/*}" >>"$STATE6/ipv6"
}

up6() {
  check
  down6
  trap 'echo "lab: setup failed; tearing down" >&2; down6' ERR
  mkdir -p "$STATE6"
  : >"$STATE6/ipv6"
  ip netns add "$SCAN6"
  ip netns exec "$SCAN6" sysctl -qw net.ipv6.conf.default.accept_dad=0
  ip -n "$SCAN6" link set lo up
  ip -n "$SCAN6" link add br0 type bridge
  ip -n "$SCAN6" addr add 10.214.0.1/24 dev br0
  ip -n "$SCAN6" addr add 2001:db8:214::1/64 dev br0 nodad
  ip -n "$SCAN6" link set br0 up
  local v6mac=02:00:5e:10:02:14 maker="(locally administered)" pick
  if [[ -r $REGISTRIES/oui.csv ]]; then
    pick=$(registry_entries oui.csv 1)
    v6mac=$(hyphenated "${pick%% *}000020" | tr - :)
    maker=${pick#* }
  fi
  echo "$maker" >"$STATE6/maker"
  add_host6 dual1 02:00:5e:10:02:10 10.214.0.10 2001:db8:214::10
  add_host6 dual2 02:00:5e:10:02:11 10.214.0.11 2001:db8:214::11
  add_host6 v6only "$v6mac" -- 2001:db8:214::20
  add_host6 v4only 02:00:5e:10:02:12 10.214.0.12
  trap - ERR
}

case ${1:-} in
  up) up ;;
  down) check && down ;;
  up6) up6 ;;
  down6) check && down6 ;;
  exec6)
    shift
    check
    ip netns list | grep -qw "$SCAN6" || { echo "lab: skipped: the IPv6 lab is not up" >&2; exit $SKIP; }
    HOSTSWEEP_LAB_STATE=$STATE6 exec ip netns exec "$SCAN6" "$@"
    ;;
  check) check ;;
  crowd) check && crowd "${2:-1000}" ;;
  uncrowd) check && uncrowd ;;
  fill) check && fill "${2:-1024}" ;;
  unfill) check && unfill ;;
  devices) check && devices ;;
  undevices) check && undevices ;;
  vlans) check && vlans ;;
  phones) check && shift && phones "${1:-5}" "${@:2}" ;;
  visitor) check && visitor "${2:-40}" ;;
  unphones) check && unphones ;;
  deafexec)
    shift
    check
    ip netns list | grep -qw "$(ns_of deaf)" || { echo "lab: skipped: no deaf scanner (lab.sh phones)" >&2; exit $SKIP; }
    exec ip netns exec "$(ns_of deaf)" "$@"
    ;;
  unvlans) check && unvlans ;;
  exec)
    shift
    check
    ip netns list | grep -qw "$SCAN" || { echo "lab: skipped: the lab is not up" >&2; exit $SKIP; }
    HOSTSWEEP_LAB_STATE=$STATE exec ip netns exec "$SCAN" "$@"
    ;;
  hostexec)
    shift
    host=$1
    shift
    exec ip netns exec "$(ns_of "$host")" "$@"
    ;;
  *)
    sed -n '2,/^set -e/{/^set -e/!p}' "$0" >&2
    exit 2
    ;;
esac
