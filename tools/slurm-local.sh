#!/usr/bin/env bash
# A throw-away single-node Slurm from Debian's packages (munge, slurmctld,
# slurmd, slurm-client), for testing the cluster examples.
#
#   tools/slurm-local.sh start DIR   write DIR/slurm.conf, start munged,
#                                    slurmctld and slurmd, wait for the node
#   tools/slurm-local.sh stop DIR    stop exactly the daemons started there
#
# Everything lives under DIR: the munge key, socket, seed, pid and log files,
# Slurm's state and spool folders, its logs and pid files. The system's own
# /etc/slurm and /etc/munge are not read, and its daemons (if any) are not
# touched: our ports are picked free, our munge socket is DIR/munge/socket.
# Clients find the cluster through SLURM_CONF=DIR/slurm.conf.
#
# Root only (slurmd starts jobs as their user): exits 77 with a message
# otherwise, and when the packages are missing.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}
[ $# -eq 2 ] || usage
cmd=$1
dir=$2
case $cmd in start | stop) ;; *) usage ;; esac

if [ "$(id -u)" != 0 ]; then
  echo "slurm-local: skipped: a local Slurm needs root (slurmd runs jobs as their user)"
  exit 77
fi
for p in munged mungekey slurmctld slurmd sinfo sbatch; do
  if ! command -v "$p" >/dev/null && ! [ -x "/usr/sbin/$p" ]; then
    echo "slurm-local: skipped: $p is missing (tools/install-deps.sh installs munge, slurmctld, slurmd, slurm-client)"
    exit 77
  fi
done
PATH=$PATH:/usr/sbin

# Sends TERM to the daemon named by a pid file, waits up to 10 s, then KILL.
stop_pidfile() {
  local f=$1 pid
  [ -s "$f" ] || return 0
  pid=$(cat "$f")
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      echo "slurm-local: $(basename "$f" .pid) ($pid) did not stop on TERM: killed" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$f"
}

if [ "$cmd" = stop ]; then
  [ -d "$dir" ] || exit 0
  dir=$(cd "$dir" && pwd)
  # The node and the controller together (each takes about 2 s to shut
  # down), then munge, which they use to the end.
  stop_pidfile "$dir/run/slurmd.pid" &
  stop_pidfile "$dir/run/slurmctld.pid" &
  wait
  stop_pidfile "$dir/run/munged.pid"
  echo "slurm-local: stopped the daemons of $dir"
  exit 0
fi

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# Slurm's config lines split at blanks: keep the path simple.
case $dir in *[[:space:]]*)
  echo "slurm-local: DIR must not contain blanks: $dir" >&2
  exit 2
  ;;
esac
mkdir -p "$dir"/{munge/private,state,spool,log,run}
# munged wants its socket's folder (and every parent) searchable by all, and
# its key, seed and log in a private one.
chmod 755 "$dir" "$dir/munge"
chmod 700 "$dir/munge/private"

# Two free TCP ports: bound to port 0 and released at once. The short gap
# before slurmctld binds is a race only with another program doing the same.
read -r ctld_port slurmd_port < <(python3 - <<'EOF'
import socket
s = [socket.socket() for _ in range(2)]
for x in s:
    x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))
EOF
)

host=$(hostname -s)
# CPUs, boards, sockets, cores, threads and memory as slurmd sees them here.
node_hw=$(slurmd -C | head -n1 | sed 's/^NodeName=[^ ]* //')

cat >"$dir/slurm.conf" <<EOF
# Written by tools/slurm-local.sh: a single-node cluster for tests.
ClusterName=wavreltest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
MinJobAge=300
NodeName=$host NodeAddr=127.0.0.1 $node_hw State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
# slurmd reads the other .conf files beside slurm.conf, never /etc/slurm.
: >"$dir/plugstack.conf"
export SLURM_CONF=$dir/slurm.conf

show_logs() {
  local f
  for f in "$dir"/log/*.log "$dir"/munge/private/munged.log; do
    [ -f "$f" ] || continue
    echo "---- $f (last 30 lines)" >&2
    tail -n 30 "$f" >&2
  done
}
fail() {
  echo "slurm-local: $*" >&2
  show_logs
  "$0" stop "$dir" >&2 || true
  exit 1
}

mungekey --create --keyfile="$dir/munge/private/munge.key" --force 2>/dev/null ||
  dd if=/dev/urandom of="$dir/munge/private/munge.key" bs=1024 count=1 status=none
chmod 400 "$dir/munge/private/munge.key"
munged --socket="$dir/munge/socket" --key-file="$dir/munge/private/munge.key" \
  --pid-file="$dir/run/munged.pid" --log-file="$dir/munge/private/munged.log" \
  --seed-file="$dir/munge/private/munged.seed" ||
  fail "munged did not start"

slurmctld -f "$dir/slurm.conf" -i || fail "slurmctld did not start"
slurmd -f "$dir/slurm.conf" || fail "slurmd did not start"

# Bounded wait for the node to report idle (a few seconds here).
state=""
for _ in $(seq 300); do
  state=$(sinfo -h -n "$host" -o %t 2>/dev/null || true)
  [ "$state" = idle ] && break
  sleep 0.1
done
[ "$state" = idle ] || fail "the node $host is not idle after 30 s (state: '${state:-no answer}')"
echo "slurm-local: up in $dir (node $host idle, slurmctld port $ctld_port, slurmd port $slurmd_port)"
echo "slurm-local: clients need SLURM_CONF=$dir/slurm.conf"
