#!/usr/bin/env bash
# The README's sharded runs on a small clip, on one of three engines: the
# source converted in 4 shards and the decoded clip measured in 4 shards; the
# pieces put together and the merged reports must be the whole run's, byte
# for byte.
#   shard_test.sh BUILD_DIR local   GNU parallel on this machine, and the
#                                   Kubernetes Indexed Job's command, index by index
#   shard_test.sh BUILD_DIR slurm   a single-node Slurm of its own (munged,
#                                   slurmctld and slurmd in the foreground): a job
#                                   array and a merge job that depends on it
#   shard_test.sh BUILD_DIR ssh     GNU parallel over ssh to a private sshd on
#                                   127.0.0.1, as a test account made for it
# Exits 77 (skipped) where the engine or the rights it needs are missing. Every
# daemon it starts is stopped by its process id, and every account and file it
# makes removed, also on failure.
set -euo pipefail
build=$(cd "$1" && pwd)
engine=$2
skip() {
  echo "$engine shards: skipped: $*"
  exit 77
}
need() {
  local c
  for c in "$@"; do command -v "$c" >/dev/null || skip "$c is not installed"; done
}
case "$engine" in
  local) need parallel ;;
  slurm) need munged mungekey slurmctld slurmd sbatch sinfo python3 ;;
  ssh) need parallel sshd ssh ssh-keygen useradd userdel python3 ;;
  *) echo "usage: $0 BUILD_DIR local|slurm|ssh" >&2; exit 2 ;;
esac
[ "$engine" = local ] || [ "$(id -u)" = 0 ] || skip "it needs root"

work=$(mktemp -d)
chmod 755 "$work"
pids=()
account=""
made_run_sshd=""
cleanup() {
  local status=$? pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -z "$account" ] || userdel -r "$account" 2>/dev/null || true
  [ -z "$made_run_sshd" ] || rmdir /run/sshd 2>/dev/null || true
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The programs, "installed" where every engine's jobs find them.
mkdir "$work/bin" "$work/clips"
for p in rgb10_to_yuv10/rgb10-to-yuv10 frame_snr/frame-snr; do cp "$build/$p" "$work/bin/"; done
export PATH="$work/bin:$PATH"
clips=$work/clips
cd "$clips"
W=64 H=48 N=4
"$build/clip-tool" make rgb10 $W $H 10 clip.rgb10 >/dev/null
"$build/clip-tool" make rgb10 $W $H 10 decoded.rgb10 3 >/dev/null
rgb10-to-yuv10 clip.rgb10 whole.yuv10 $W $H -1
frame-snr decoded.rgb10 clip.rgb10 0 $H $W --format rgb10 --csv whole.csv --json whole.json >whole.txt
# The README's commands, at this size.
convert="rgb10-to-yuv10 clip.rgb10 part{}.yuv10 $W $H -1 --shard {}/$N"
measure="frame-snr decoded.rgb10 clip.rgb10 0 $H $W --format rgb10 --shard {}/$N --json part{}.json >/dev/null"
merge() {
  cat $(seq -f part%g.yuv10 0 $((N - 1))) >clip.yuv10
  frame-snr --merge $(seq -f part%g.json 0 $((N - 1))) --csv snr.csv --json snr.json >snr.txt
}

start=$SECONDS
case "$engine" in
  local)
    seq 0 $((N - 1)) | parallel -j2 "$convert"
    seq 0 $((N - 1)) | parallel -j2 "$measure"
    merge
    # A Kubernetes Indexed Job runs its container's command once per index,
    # with the index in JOB_COMPLETION_INDEX.
    mkdir k8s
    for i in $(seq 0 $((N - 1))); do
      (cd k8s && JOB_COMPLETION_INDEX=$i sh -c "frame-snr ../decoded.rgb10 ../clip.rgb10 0 $H $W \
        --format rgb10 --shard env:JOB_COMPLETION_INDEX/$N --json part\$JOB_COMPLETION_INDEX.json \
        >/dev/null")
    done
    (cd k8s && frame-snr --merge $(seq -f part%g.json 0 $((N - 1))) --csv snr.csv >/dev/null)
    cmp k8s/snr.csv whole.csv
    ;;

  slurm)
    s=$work/slurm
    mkdir -p "$s/state" "$s/spool"
    chmod 755 "$s"
    mungekey --create --keyfile="$s/munge.key"
    munged --foreground --socket="$s/munge.socket" --key-file="$s/munge.key" \
      --pid-file="$s/munged.pid" --seed-file="$s/munged.seed" >"$s/munged.log" 2>&1 &
    pids+=($!)
    host=$(uname -n)
    host=${host%%.*}
    cat >"$s/slurm.conf" <<CONF
ClusterName=rawframes
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
AuthType=auth/munge
AuthInfo=socket=$s/munge.socket
CredType=cred/munge
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/slurmctld.log
SlurmdLogFile=$s/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerParameters=batch_sched_delay=0,kill_invalid_depend
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
NodeName=rawframes-node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=shards Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
    export SLURM_CONF=$s/slurm.conf
    for i in $(seq 50); do [ -S "$s/munge.socket" ] && break; sleep 0.1; done
    slurmctld -D -i >"$s/slurmctld.out" 2>&1 &
    pids+=($!)
    slurmd -D -N rawframes-node >"$s/slurmd.out" 2>&1 &
    pids+=($!)
    for i in $(seq 100); do
      [ "$(sinfo -h -o %t 2>/dev/null)" = idle ] && break
      sleep 0.2
    done
    [ "$(sinfo -h -o %t 2>/dev/null)" = idle ] || {
      tail -n 5 "$s"/*.log "$s"/*.out
      echo "the Slurm node did not come up"
      exit 1
    }
    # The README's job array and merge job.
    cat >shards.sh <<JOB
#!/bin/sh
#SBATCH --array=0-$((N - 1))
rgb10-to-yuv10 clip.rgb10 part\$SLURM_ARRAY_TASK_ID.yuv10 $W $H -1 --shard env:SLURM_ARRAY_TASK_ID/$N
frame-snr decoded.rgb10 clip.rgb10 0 $H $W --format rgb10 --shard env:SLURM_ARRAY_TASK_ID/$N \\
  --json part\$SLURM_ARRAY_TASK_ID.json >/dev/null
JOB
    cat >merge.sh <<JOB
#!/bin/sh
cat $(seq -f part%g.yuv10 0 $((N - 1)) | tr '\n' ' ')> clip.yuv10
frame-snr --merge $(seq -f part%g.json 0 $((N - 1)) | tr '\n' ' ')--csv snr.csv --json snr.json > snr.txt
JOB
    job=$(sbatch --parsable shards.sh)
    timeout 120 sbatch --wait --dependency=afterok:"$job" merge.sh >/dev/null || {
      cat slurm-*.out 2>/dev/null | tail -n 5
      echo "the merge job did not succeed"
      exit 1
    }
    ;;

  ssh)
    account=rfshard$$
    # Key login only: "*" is no password, but unlike useradd's "!" no lock
    # either, which sshd would refuse.
    useradd --create-home --shell /bin/sh --password '*' "$account"
    home=$(getent passwd "$account" | cut -d: -f6)
    mkdir -m 700 "$home/.ssh"
    ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
    ssh-keygen -q -t ed25519 -N '' -f "$work/client_key"
    cp "$work/client_key.pub" "$home/.ssh/authorized_keys"
    chown -R "$account:" "$home/.ssh" "$clips"
    port=$(free_port)
    cat >"$work/sshd_config" <<CONF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
PidFile $work/sshd.pid
AllowUsers $account
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes yes
CONF
    [ -d /run/sshd ] || { mkdir -p /run/sshd && made_run_sshd=1; }
    "$(command -v sshd)" -D -e -f "$work/sshd_config" >"$work/sshd.log" 2>&1 &
    pids+=($!)
    export PARALLEL_SSH="ssh -p $port -i $work/client_key -o BatchMode=yes \
      -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
    for i in $(seq 50); do $PARALLEL_SSH "$account@127.0.0.1" true 2>/dev/null && break; sleep 0.1; done
    # The README's multi-machine lines, with this machine as the other one
    # (--env PATH: the programs are not installed system-wide here).
    seq 0 $((N - 1)) | parallel -S "$account@127.0.0.1" --workdir "$clips" --env PATH "$convert"
    seq 0 $((N - 1)) | parallel -S "$account@127.0.0.1" --workdir "$clips" --env PATH "$measure"
    merge
    ;;
esac

cmp clip.yuv10 whole.yuv10
for f in csv json txt; do cmp snr.$f whole.$f; done
echo "$engine shards: $N shards in $((SECONDS - start)) s; the joined output and the merged" \
  "text, CSV and JSON reports are the whole run's"
