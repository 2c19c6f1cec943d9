#!/usr/bin/env bash
# A run killed at any moment (kill -9, a power loss) must not lose anything:
# the engine's next start brings the machine back to exactly the state before
# that run or exactly the state after it, then does what was asked. So after
# each kill the same command runs again, and everything left behind must
# equal what a clean run leaves (or, for a killed run that was already past
# its point of no return, what a second clean run leaves): the tree of the
# install folders with checksums (the logs' lines carry times, so only their
# presence counts), the registration and the description's registry values,
# the journal folder, and no staging folder or moved-aside file anywhere.
#
# Natively the engine is killed with SIGKILL by strace on entering one of its
# mutating system calls, at points spread over those of a clean run: a fresh
# install, an upgrade over version 1 holding a file of the user's, and the
# silent uninstall's temporary copy (every other one followed by an install
# of version 1 instead, which shows a half-removed folder that a second
# uninstall would hide). Under Wine it is killed at seeded random moments of
# the install of a 2,000-file package and of the upgrade to its version 2
# over version 1 with a Backup and a file of the user's, taking turns
# (E2E_SEED repeats a run). E2E_SAMPLES sets the number of kills (per
# scenario natively, in all under Wine).
#
#   tests/e2e/crash_recovery.sh wine|native
E2E_PLATFORM=${1:?wine or native}
E2E_NAME=crash-recovery-$E2E_PLATFORM
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
uninstall_key='\Software\Microsoft\Windows\CurrentVersion\Uninstall\VolokDemo'
demo_key='Software\Volok\VolokDemo'
# The machine's state that every sample starts from afresh: the install
# folders, and natively also the home, temporary folder, registry and journal.
live=$work/live
programs=$live/programs
target="$programs/Демо программа"
folder=$(winpath "$target")
journal=$live/journal
samples=${E2E_SAMPLES:-$([ "$E2E_PLATFORM" = wine ] && echo 5 || echo 14)}

# Every entry below a folder, sorted: files with their checksum, logs by
# name only, and under Wine shortcuts by their fields (Wine's shell link
# keeps the target's file times).
tree_of() {
  python3 - "$1" "$E2E_PLATFORM" <<'PY'
import hashlib, os, subprocess, sys
root, rows = sys.argv[1], []
for parent, dirs, files in os.walk(root):
    for name in dirs + files:
        path = os.path.join(parent, name)
        rel = os.path.relpath(path, root)
        if os.path.islink(path):
            rows.append(f"link {rel} -> {os.readlink(path)}")
        elif os.path.isdir(path):
            rows.append(f"dir {rel}")
        elif name.lower() == "setup.log":
            rows.append(f"log {rel}")
        elif sys.argv[2] == "wine" and name.lower().endswith(".lnk"):
            info = subprocess.run(["lnkinfo", path], capture_output=True, text=True).stdout.splitlines()
            fields = [" ".join(l.split()) for l in info if l.strip().startswith(("Local path", "Command line", "Working"))]
            rows.append(f"lnk {rel}: {'; '.join(fields) or '<unreadable>'}")
        else:
            with open(path, "rb") as f:
                rows.append(f"{hashlib.sha256(f.read()).hexdigest()[:16]} {rel}")
print("\n".join(sorted(rows)) if rows else "<nothing>")
PY
}
# state_of [name]: what a run leaves; the entries of the temporary folder
# with that name (a folder and its batch) are left out, and so is the
# uninstaller's own log there, which a killed copy leaves as soon as it
# has started, whichever way its run is then settled.
state_of() {
  echo "-- install folders"
  tree_of "$programs"
  echo "-- registration"
  tool reg HKLM "$uninstall_key" DisplayIcon DisplayName DisplayVersion InstallDate InstallLocation Publisher \
    UninstallString QuietUninstallString NoModify NoRepair 2>&1 | tr -d '\r'
  echo "-- HKCU\\$demo_key"
  tool reg HKCU "$demo_key" InstallPath Version Launches 2>&1 | tr -d '\r'
  echo "-- journal folder"
  ls -A "$journal" 2>&1
  if [ "$E2E_PLATFORM" = native ]; then
    echo "-- temporary folder"
    ls -A "$TMPDIR" 2>&1 | grep -vxF -e "${1:-/}" -e "${1:-/}.bat" -e "uninstall-VolokDemo.log"
  fi
}
# check_outcome <what> <the next start's result from the state before the
# killed run> <its result from the state after it> [entry left out]
check_outcome() {
  local got
  got=$(state_of "${4:-}")
  if [ "$got" = "$3" ] && [ "$got" != "$2" ]; then
    echo "   $1: the killed run was completed, then the next start ran"
    expect_eq "state after the next start" "$3" "$got"
  else
    [ "$got" = "$2" ] && echo "   $1: the killed run was undone, then the next start ran"
    expect_eq "state after the next start" "$2" "$got"
  fi
}

step "build the demo package"
cp -a "$e2e_root/examples/demo" "$work/source"
if [ "$E2E_PLATFORM" = wine ]; then
  # Enough files that the unpack lasts seconds, so a random moment finds
  # the engine at work.
  for d in $(seq -w 1 20); do
    mkdir -p "$work/source/payload/app/many/folder-$d"
    for f in $(seq -w 1 100); do echo "$d/$f" >"$work/source/payload/app/many/folder-$d/item-$f.txt"; done
  done
fi
(cd "$work/source" && run 300 "$engine" build) >"$out/build.txt" 2>&1 || fail "setup build failed"
version1=$work/source/output-installer/1.4.0.0
expect_file "$version1/setup.xml"
# Version 2: version 1 renumbered, which its settings file and registration
# show, and sealed again as a publisher's build of it would be.
version2=$work/version2
cp -a "$version1" "$version2"
decrypt "$version1/setup.xml" | sed 's|<Number>1.4.0.0</Number>|<Number>2.0.0.0</Number>|' >"$work/setup2.txt"
"$native_tool" encrypt "$work/setup2.txt" "$version2/setup.xml" || fail "cannot write version 2's setup.xml"
"$native_tool" seal "$engine" "$version2" || fail "cannot seal version 2"

# --- natively: SIGKILL on entering a mutating system call ---------------------

if [ "$E2E_PLATFORM" = native ]; then
  saved=$work/saved
  export HOME=$live/home TMPDIR=$live/tmp VOLOK_REGISTRY_DIR=$live/reg VOLOK_JOURNAL_DIR=$journal
  save() { rm -rf "$saved/$1" && mkdir -p "$saved" && cp -a "$live" "$saved/$1"; }
  restore() { wait_ended && rm -rf "$live" && cp -a "$saved/$1" "$live"; }
  # After a kill only the processes are awaited: a killed copy's folder
  # stays in the temporary folder.
  wait_ended() {
    local _
    for _ in $(seq 1 120); do
      pgrep -f "$work" >/dev/null || return 0
      sleep 0.5
    done
    fail "processes started from $work did not end"
  }
  # The calls counted: the mutating ones, the opens (an open for writing is
  # one), and what tells processes and threads apart.
  traced=execve,clone,clone3,fork,vfork,openat,write,pwrite64,writev,pwritev,rename,renameat,renameat2,unlink
  traced+=,unlinkat,mkdir,mkdirat,rmdir,fsync,fdatasync,ftruncate,truncate,copy_file_range,sendfile,fchmod
  traced+=,fchmodat,chmod,utimensat,fsetxattr,fremovexattr,symlink,symlinkat,link,linkat,fallocate

  # kill_points <trace> <samples> [copy]: "syscall n point total" lines. strace
  # counts each system call per thread and kills where the first thread makes
  # its n-th call, so a point is kept only where that call itself mutates
  # something of the machine's state; with "copy", only the uninstaller's
  # temporary copy counts. Besides the points spread evenly, each rename into
  # the journal folder and the point after it are taken: a run's records
  # (the commit among them) are where undoing turns into finishing.
  kill_points() {
    python3 - "$1" "$2" "$live" ${3:+copy} <<'PY'
import re, sys
trace, samples, live = sys.argv[1], int(sys.argv[2]), sys.argv[3]
only_copy = len(sys.argv) > 4
opens_for_writing = re.compile(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC")
entry = re.compile(r"^(\d+) +([a-z0-9_]+)\((.*)")
calls, count, process, copy = [], {}, {}, None
for line in open(trace, encoding="utf-8", errors="replace"):
    m = entry.match(line)
    if not m:
        continue
    tid, name, rest = int(m.group(1)), m.group(2), m.group(3)
    process.setdefault(tid, tid)
    child = re.search(r"= (\d+)$", line.strip())
    if name in ("clone", "clone3") and "CLONE_THREAD" in rest and child:
        process[int(child.group(1))] = process[tid]
    if name == "execve" and "volok-uninstall-" in rest.split(",")[0]:
        copy = tid
    n = count[(tid, name)] = count.get((tid, name), 0) + 1
    writes = name not in ("openat", "execve", "clone", "clone3", "fork", "vfork") or \
        (name == "openat" and opens_for_writing.search(rest))
    ours = live in rest and (not only_copy or (copy is not None and process[tid] == copy))
    calls.append((name, n, bool(writes and ours), name.startswith("rename") and f"{live}/journal/" in rest))
first = {}
for i, (name, n, _, _) in enumerate(calls):
    first.setdefault((name, n), i)
points = sorted({first[(name, n)]: (name, n, record) for (name, n, w, record) in calls
                 if w and calls[first[(name, n)]][2]}.items())
picked = {round(i * (len(points) - 1) / max(samples - 1, 1)) for i in range(samples)} if points else set()
for i, (_, (_, _, record)) in enumerate(points):
    if record:
        picked |= {i, min(i + 1, len(points) - 1)}
points = [(index, call[:2]) for index, call in points]
picked = sorted(picked)
for i in picked:
    print(*points[i][1], i + 1, len(points))
PY
  }
  # original_killed <trace>: the first process started (the uninstaller in
  # its folder, which waits for its copy) was killed as well.
  original_killed() {
    local first
    first=$(sed -n '1s/^\([0-9]*\) .*/\1/p' "$1")
    grep -qE "^$first +\+\+\+ killed by SIGKILL" "$1"
  }
  # engine_run <scenario> <command prefix...>: the scenario's command.
  engine_run() {
    local scenario=$1
    shift
    case $scenario in
      install) (cd "$version1" && "$@" ./setup.exe silent "$folder") ;;
      upgrade) (cd "$version2" && "$@" ./setup.exe silent "$folder") ;;
      uninstall) (cd "$target" && "$@" ./uninstall.exe silent) ;;
    esac
  }

  # scenario <name>: the saved state <name> is the one before the run.
  scenario() {
    local name=$1 ref_before ref_after install_before install_after expected_before points call n point total kt copy sample=0 next
    step "$name: a clean run, its mutating calls counted"
    restore "$name"
    engine_run "$name" timeout 120 strace -f -y -qq -o "$out/$name-trace.txt" -e trace="$traced" >>"$out/runs.txt" 2>&1
    expect_eq "exit code of the clean run" 0 $?
    wait_idle
    ref_before=$(state_of)
    printf '%s\n' "$ref_before" >"$out/$name-clean.txt"
    if [ "$name" = uninstall ]; then
      # Nothing is left to run again: the copy removed itself with the rest.
      ref_after=$ref_before
      # Rerun, an uninstall ends the same from either state; so every other
      # kill is followed by an install of version 1, which ends differently
      # over a folder that is whole, gone or half-removed.
      engine_run install timeout 120 >>"$out/runs.txt" 2>&1
      expect_eq "exit code of the install after the uninstall" 0 $?
      wait_idle
      install_after=$(state_of)
      restore "$name"
      engine_run install timeout 120 >>"$out/runs.txt" 2>&1
      expect_eq "exit code of the install over the installed version" 0 $?
      wait_idle
      install_before=$(state_of)
    else
      engine_run "$name" timeout 120 >>"$out/runs.txt" 2>&1
      expect_eq "exit code of the second clean run" 0 $?
      wait_idle
      ref_after=$(state_of)
    fi
    points=$(kill_points "$out/$name-trace.txt" "$samples" "$([ "$name" = uninstall ] && echo copy)")
    checks=$((checks + 1))
    [ -n "$points" ] || fail "no mutating call found in the trace"
    echo "   $(wc -l <<<"$points") samples of $(tail -n 1 <<<"$points" | cut -d' ' -f4) mutating calls"
    while read -r call n point total; do
      [ -n "$call" ] || continue
      sample=$((sample + 1))
      next="the same command"
      [ "$name" = uninstall ] && [ $((sample % 2)) = 0 ] && next="the install of version 1"
      step "$name: killed on entering $call #$n (mutating call $point of $total), next start: $next"
      restore "$name"
      kt=$out/$name-kill-$point.txt
      engine_run "$name" timeout 60 strace -f -o "$kt" -e trace="execve,$call" -e inject="$call:signal=SIGKILL:when=$n" \
        >>"$out/runs.txt" 2>&1
      checks=$((checks + 1))
      grep -q 'killed by SIGKILL' "$kt" || fail "the engine was not killed"
      wait_ended
      copy=$(sed -n 's/^[0-9]* *execve("\([^"]*\/volok-uninstall-[^"]*\)".*/\1/p' "$kt" | head -n 1)
      if [ "$next" = "the install of version 1" ]; then
        engine_run install timeout 60 >>"$out/runs.txt" 2>&1
        expect_eq "exit code of the install" 0 $?
        wait_ended
        # The killed copy's own folder (and batch) stays in the temporary
        # folder: no later start knows it.
        expected_before=$install_before
        if original_killed "$kt"; then
          # strace counts calls per process: the waiting original, which
          # recovers the copy's run, met the same count and was killed too.
          # Its file then stays in the relaunch folder, and the version
          # installed again over the restored folder has no earlier
          # uninstaller to keep.
          echo "   $call #$n: the waiting original was killed as well"
          expected_before=$(grep -vF "Демо программа/Backup/uninstall.exe" <<<"$install_before")
        fi
        check_outcome "$call #$n" "$expected_before" "$install_after" "$(basename "$(dirname "$copy")")"
        continue
      fi
      # The same command again; for the uninstall, its temporary copy when
      # that had started (the installed one may be gone by now).
      if [ -n "$copy" ]; then
        (cd "$(dirname "$copy")" && run 60 ./uninstall.exe silent) >>"$out/runs.txt" 2>&1
      else
        engine_run "$name" timeout 60 >>"$out/runs.txt" 2>&1
      fi
      expect_eq "exit code of the rerun" 0 $?
      wait_idle
      check_outcome "$call #$n" "$ref_before" "$ref_after"
    done <<<"$points"
  }

  step "the states before each run"
  mkdir -p "$live"/{home,tmp,reg,programs}
  save install
  engine_run install run 120 >>"$out/runs.txt" 2>&1
  expect_eq "exit code of the install of version 1" 0 $?
  wait_idle
  save uninstall
  printf 'мои заметки\r\n' >"$target/заметки пользователя.txt"
  save upgrade

  scenario install
  scenario upgrade
  scenario uninstall
  finish
fi

# --- under Wine: kill -9 of the engine's process at random moments ---------------

export VOLOK_JOURNAL_DIR
VOLOK_JOURNAL_DIR=$(winpath "$journal")
# A server that stays between the runs (each run is awaited itself, and the
# silent install starts no other process), so the many short starts of Wine
# do not each start a new one; the cleanup ends it.
WINEPREFIX=$VOLOK_WINEPREFIX timeout 10 wineserver -p
saved=$work/saved
mkdir -p "$saved"
deleted="reg delete HKLM$uninstall_key /f & reg delete HKCU\\$demo_key /f"
# The states before each run, in a prefix that stays: nothing of the
# program for the install; for the upgrade, version 1 with a Backup and a
# file of the user's, as saved.
before_install() {
  rm -rf "$programs" "$journal" && mkdir -p "$programs"
  run 60 cmd /c "$deleted" >/dev/null 2>&1
}
before_upgrade() {
  rm -rf "$programs" "$journal" && cp -a "$saved/programs" "$programs"
  run 60 cmd /c "$deleted & reg import $(winpath "$saved/uninstall.reg") & reg import $(winpath "$saved/demo.reg")" \
    >/dev/null 2>&1
}
package_of() { if [ "$1" = install ]; then echo "$version1"; else echo "$version2"; fi; }
install() { (cd "$1" && run 300 ./setup.exe silent "$folder") >>"$out/runs.txt" 2>&1; }
# started <package>: its install in the background, the subshell in
# $runner, once the run has written its journal (awaited, bounded).
started() {
  local _
  install "$1" &
  runner=$!
  for _ in $(seq 1 1200); do
    compgen -G "$journal/*.journal" >/dev/null && return 0
    sleep 0.05
  done
  fail "the run wrote no journal"
}
declare -A lasted_ms ref_before ref_after
# clean_runs <scenario>: the result of one run and of two from the state
# before, and how long the run lasts once its journal is there.
clean_runs() {
  local begin
  step "$1: clean runs, timed"
  "before_$1"
  started "$(package_of "$1")"
  begin=$(date +%s%N)
  wait "$runner"
  expect_eq "exit code of the clean run" 0 $?
  lasted_ms[$1]=$((($(date +%s%N) - begin) / 1000000))
  expect_eq "files unpacked" 2000 "$(find "$target/many" -name 'item-*.txt' 2>/dev/null | wc -l)"
  ref_before[$1]=$(state_of)
  printf '%s\n' "${ref_before[$1]}" >"$out/$1-clean.txt"
  install "$(package_of "$1")"
  expect_eq "exit code of the second clean run" 0 $?
  ref_after[$1]=$(state_of)
  echo "   the run lasts ${lasted_ms[$1]} ms after its journal appears"
}

clean_runs install
step "upgrade: the state before it"
# Version 1 installed twice holds a Backup of its own, which the upgrade
# must keep inside the new Backup until it is done.
install "$version1"
expect_eq "exit code of the repeated install of version 1" 0 $?
printf 'мои заметки\r\n' >"$target/заметки пользователя.txt"
cp -a "$programs" "$saved/programs"
run 60 cmd /c "reg export HKLM$uninstall_key $(winpath "$saved/uninstall.reg") /y & \
reg export HKCU\\$demo_key $(winpath "$saved/demo.reg") /y" >/dev/null 2>&1
expect_file "$saved/demo.reg"
clean_runs upgrade

seed=${E2E_SEED:-$(date +%s)}
echo "   seed $seed (E2E_SEED=$seed repeats these moments)"
RANDOM=$seed
finished_first=0
for sample in $(seq 1 "$samples"); do
  scenario=install
  [ $((sample % 2)) = 0 ] && scenario=upgrade
  # Within the first 80 % of the clean run's time: a loaded machine runs
  # faster or slower than the timed run, and a kill near the end may come
  # after the run has finished.
  delay_ms=$(((RANDOM * 32768 + RANDOM) % (${lasted_ms[$scenario]} * 4 / 5 + 1)))
  step "$scenario killed $delay_ms ms after its journal appeared (sample $sample, seed $seed)"
  "before_$scenario"
  started "$(package_of "$scenario")"
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  # The Windows process's host process: the last below the subshells and
  # timeout.
  host=$runner
  while child=$(pgrep -P "$host" | head -n 1) && [ -n "$child" ]; do host=$child; done
  [ "$host" != "$runner" ] && kill -9 "$host"
  wait "$runner"
  code=$?
  checks=$((checks + 1))
  if [ "$code" = 0 ]; then
    # The run beat the kill: it must have left the same state as a clean run.
    finished_first=$((finished_first + 1))
    echo "   the run finished before the kill"
    expect_eq "state of a run that finished first" "${ref_before[$scenario]}" "$(state_of)"
    continue
  fi
  [ "$code" = 137 ] || fail "the engine was not killed (exit code $code)"
  install "$(package_of "$scenario")"
  expect_eq "exit code of the rerun" 0 $?
  check_outcome "killed after $delay_ms ms" "${ref_before[$scenario]}" "${ref_after[$scenario]}"
done
# Most samples must have been real kills, or the sweep proved little.
[ $((finished_first * 2)) -le "$samples" ] ||
  fail "$finished_first of $samples runs finished before their kill"
finish
