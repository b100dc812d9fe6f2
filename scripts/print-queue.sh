#!/usr/bin/env bash
# A print service of our own with one PDF queue, for the printing tests and the printing benchmark.
# It runs its own cupsd on a private socket, so it neither needs nor touches the machine's print
# service, and two builds (build/, build-asan/) can each run one at a time. Its state lives in a
# private folder under /tmp (scripts/private-dir.sh): the filters run as lp, which must enter it.
#   scripts/print-queue.sh start POINTER QUEUE   starts it (stopping a leftover one first) and
#                                                records its state folder in POINTER; PDFs land in
#                                                STATE/out, the service's log is STATE/log/error_log
#   scripts/print-queue.sh stop POINTER QUEUE    stops it, removes its state folder, POINTER and
#                                                the queue's cups-pdf settings
#   scripts/print-queue.sh far-add POINTER QUEUE     adds QUEUE_Far beside the running queue, a network
#   scripts/print-queue.sh far-remove POINTER QUEUE  printer at an address no host answers, for the
#                                                    benchmark of printing with one; removes it again.
#                                                    QUEUE stays the default printer.
# Clients reach it with CUPS_SERVER=/tmp/QUEUE.sock. Needs root: the cups-pdf backend runs as root.
set -euo pipefail
action=${1:?start or stop}
pointer=${2:?pointer file}
queue=${3:?queue name}
sock=/tmp/$queue.sock
privatedir=$(dirname "$0")/private-dir.sh
# cups-pdf reads the settings of a queue named by its device URI from this file.
pdfconf=/etc/cups/cups-pdf-$queue.conf

stop() {
  local dir=
  if [ -f "$pointer" ]; then dir=$(cat "$pointer"); fi
  if [ -n "$dir" ] && [ -f "$dir/cupsd.pid" ]; then
    pid=$(cat "$dir/cupsd.pid")
    if kill "$pid" 2>/dev/null; then
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$dir/cupsd.pid"
  fi
  rm -f "$sock" "$pdfconf"
  "$privatedir" remove "$pointer"
}

# A raw queue: nothing reaches for the device until a job goes to it, so adding it cannot hang.
# 192.0.2.1 is a documentation address (RFC 5737) that no network routes.
far() {
  command -v lpadmin >/dev/null || PATH=$PATH:/usr/sbin
  export CUPS_SERVER=$sock
  lpstat -r >/dev/null 2>&1 || { echo "print-queue.sh: no print service on $sock" >&2; exit 1; }
  if [ "$1" = add ]; then
    lpadmin -p "${queue}_Far" -E -v ipp://192.0.2.1/ipp/print
  elif lpstat -p "${queue}_Far" >/dev/null 2>&1; then
    lpadmin -x "${queue}_Far"
  fi
}

case "$action" in
  stop) stop; exit 0 ;;
  far-add) far add; exit 0 ;;
  far-remove) far remove; exit 0 ;;
  start) ;;
  *) echo "print-queue.sh: unknown action '$action'" >&2; exit 2 ;;
esac

command -v cupsd >/dev/null || PATH=$PATH:/usr/sbin
command -v cupsd >/dev/null || { echo "print-queue.sh: cupsd missing (scripts/setup.sh test)" >&2; exit 1; }
stop
dir=$("$privatedir" make "$pointer" "print-$queue")
mkdir -p "$dir"/{etc/ppd,spool/tmp,cache,run,log,out}
mkdir -p -m 1777 "$dir/tmp"
chmod 755 "$dir"/{etc,spool,cache,run,log}
chmod 1777 "$dir/spool/tmp"

cat >"$dir/etc/cups-files.conf" <<EOF
ServerRoot $dir/etc
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/run
TempDir $dir/tmp
ServerBin /usr/lib/cups
DataDir /usr/share/cups
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
SystemGroup root
EOF
cat >"$dir/etc/cupsd.conf" <<EOF
Listen $sock
# Debug, because a filter tells why it failed only at that level ("Unable to copy PDF file: …"),
# and the tests quote the log when a job fails.
LogLevel debug
WebInterface No
Browsing No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
# Label 1 puts the job number into the file name, so two jobs of one title keep both files.
printf 'Out %s\nLabel 1\n' "$dir/out" >"$pdfconf"

cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
echo $! >"$dir/cupsd.pid"
export CUPS_SERVER=$sock
for _ in $(seq 100); do lpstat -r >/dev/null 2>&1 && break; sleep 0.1; done
lpstat -r >/dev/null 2>&1 || { echo "print-queue.sh: cupsd did not start" >&2; cat "$dir/log/cupsd.out" >&2; exit 1; }
# The driver list is built on the first request after a start; give it a few tries.
for _ in 1 2 3 4 5; do
  lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd 2>"$dir/log/lpadmin.err" && break
  sleep 0.5
done
lpadmin -d "$queue"
lpstat -p "$queue" >/dev/null
echo "print queue $queue on $sock, PDFs in $dir/out"
