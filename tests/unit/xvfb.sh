#!/bin/sh
# xvfb.sh start|stop DIR: the X server the OpenGL unit tests draw on.
# start lets Xvfb pick a free display and leaves its name in DIR/display and the server's
# pid in DIR/pid; stop ends that server.
set -eu
dir=$2
case $1 in
start)
  mkdir -p "$dir"
  rm -f "$dir/display" "$dir/number"
  # setsid and closed standard streams: ctest must not wait for, or reap, the server.
  # -noreset: a reset when the last client leaves refuses the next test's connection.
  setsid Xvfb -displayfd 3 -screen 0 3072x3072x24 -nolisten tcp -noreset \
    3>"$dir/number" >"$dir/xvfb.log" 2>&1 </dev/null &
  echo $! >"$dir/pid"
  tries=0
  until grep -q '^[0-9][0-9]*$' "$dir/number" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
      echo "Xvfb did not start:" >&2
      cat "$dir/xvfb.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo ":$(cat "$dir/number")" >"$dir/display"
  echo "Xvfb on $(cat "$dir/display"), pid $(cat "$dir/pid")"
  ;;
stop)
  if [ -f "$dir/pid" ]; then
    kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid" "$dir/display" "$dir/number"
  fi
  ;;
*)
  echo "usage: xvfb.sh start|stop DIR" >&2
  exit 2
  ;;
esac
