#!/usr/bin/env bash
# Walks the installer window through every screen under an X server (DISPLAY must be set: ctest
# runs this through scripts/with-xvfb.sh), saves each screen as a PNG in OUT_DIR for people to look
# at, and checks what pixels can prove: the accent inside the primary button or the progress fill,
# ink inside each text box, the background colour in a corner; and, read back with OCR, that the
# error screen says the failure's own message. Where the buttons are, it asks the program first
# (SCREENS_EXE --geometry).
#   screens.sh WINE_RUN SCREENS_EXE OUT_DIR
set -uo pipefail
wine_run=$1 exe=$2 out=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$out"
rm -f "$out"/*.png
control=$(mktemp -d)
failures=0
harness=
finish() {
  if [ -n "$harness" ] && kill -0 "$harness" 2>/dev/null; then
    kill "$harness" 2>/dev/null
    wait "$harness" 2>/dev/null
  fi
  rm -rf "$control"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP
fail() { echo "screens: FAIL: $*" >&2; failures=$((failures + 1)); }
die() { echo "screens: $*" >&2; exit 1; }

# Bounded wait for a condition given as a command.
wait_for() {
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The canvas and the buttons as the program hit-tests them (korvane_screens --geometry), one line
# each: "canvas WIDTH HEIGHT", "NAME X Y WIDTH HEIGHT".
rects=$("$wine_run" "$exe" --geometry | python3 -c 'import json, sys
for name, values in json.load(sys.stdin).items():
    print(name, *(round(value) for value in values))') || die "the screens tool printed no geometry"
rect() { awk -v name="$1" '$1 == name { print $2, $3, $4, $5 }' <<<"$rects"; }
read -r canvas_width canvas_height < <(rect canvas)
read -r px py pw ph < <(rect primaryButton)
read -r sx sy sw sh < <(rect secondaryButton)
[ -n "$ph" ] && [ -n "$sh" ] || die "no primaryButton or secondaryButton in: $rects"
primary_centre=("$((px + pw / 2))" "$((py + ph / 2))")
secondary_centre=("$((sx + sw / 2))" "$((sy + sh / 2))")
# Inside the primary button clear of its label and corners; above the secondary button's label.
primary_fill=("$((px + 12))" "$((py + 10))")
secondary_fill=("$((sx + sw / 2))" "$((sy + 4))")

KORVANE_SCREENS_DIR="Z:${control//\//\\}" "$wine_run" "$exe" >/dev/null 2>&1 &
harness=$!

find_window() { wid=$(xdotool search --onlyvisible --name 'Korvane Launcher' 2>/dev/null | head -n1); [ -n "$wid" ]; }
wait_for 300 find_window || die "the installer window did not appear"
eval "$(xdotool getwindowgeometry --shell "$wid")"   # X Y WIDTH HEIGHT
[ "$WIDTH" = "$canvas_width" ] && [ "$HEIGHT" = "$canvas_height" ] ||
  fail "window is ${WIDTH}x${HEIGHT}, expected ${canvas_width}x${canvas_height} at 96 DPI"

click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; }
# The pointer rests outside every button so that no hover lift shows in the pictures.
rest_pointer() { xdotool mousemove $((X + 600)) $((Y + 560)); }
snapshot() { import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$@"; }
capture() {
  rest_pointer
  sleep 0.8   # the 0.6 s intro, the 0.25 s heading fade and the progress easing settle
  # On a busy machine those frames come late: wait (up to about 4 s more) until two pictures 0.2 s
  # apart agree, so what is checked is the screen at rest and not a fade half-way.
  local previous="" current
  for _ in $(seq 20); do
    current=$(snapshot -depth 8 ppm:- 2>/dev/null | md5sum)
    [ "$current" = "$previous" ] && break
    previous=$current
    sleep 0.2
  done
  snapshot "$out/$1.png" || fail "cannot capture $1"
}
step() {
  rm -f "$control/ack"
  printf '%s' "$1" >"$control/step.part" && mv "$control/step.part" "$control/step"
  wait_for 100 test -e "$control/ack" || fail "the task did not take '$1'"
}
end_task() {   # "finish" and "fail" end the task instead of answering
  rm -f "$control/ack"
  printf '%s' "$1" >"$control/step.part" && mv "$control/step.part" "$control/step"
  wait_for 100 bash -c "! test -e '$control/step'" || fail "the task did not take '$1'"
}
task_started() {
  wait_for 100 test -e "$control/started" || fail "no install task started"
  rm -f "$control/started"
}

colour_at() {   # prints "r g b" of one pixel
  convert "$1" -format "%[fx:round(255*p{$2,$3}.r)] %[fx:round(255*p{$2,$3}.g)] %[fx:round(255*p{$2,$3}.b)]" info:
}
expect_colour() {   # NAME X Y RRGGBB TOLERANCE
  local r g b er=$((16#${4:0:2})) eg=$((16#${4:2:2})) eb=$((16#${4:4:2}))
  read -r r g b < <(colour_at "$out/$1.png" "$2" "$3")
  if [ $(( (r-er)*(r-er) > $5*$5 || (g-eg)*(g-eg) > $5*$5 || (b-eb)*(b-eb) > $5*$5 )) = 1 ]; then
    fail "$1: pixel ($2,$3) is $r $g $b, expected #$4"
  fi
}
expect_ink() {   # NAME LABEL X Y W H: pixels unlike the box's own top-left pixel
  local background count
  background=$(convert "$out/$1.png" -format "%[pixel:p{$3,$4}]" info:)
  count=$(convert "$out/$1.png" -crop "$5x$6+$3+$4" +repage -fuzz 12% -fill black -opaque "$background" \
            -fill white +opaque black -format '%[fx:round(mean*w*h)]' info:)
  [ "${count:-0}" -ge 15 ] || fail "$1: no text in $2 ($count pixels of ink)"
}
expect_text() {   # NAME LABEL X Y W H TEXT: the box reads as TEXT (tests/app/screen_text.py)
  local reading
  reading=$(printf '%s' "$7" | python3 "$here/screen_text.py" "$out/$1.png" "$3" "$4" "$5" "$6" 2>&1) ||
    fail "$1: $2 does not say what was expected: $reading"
}
common_checks() {   # every screen: the background, the section label, the tagline and footer
  expect_colour "$1" 4 566 101114 6
  expect_colour "$1" 875 560 101114 6
  expect_ink "$1" "section label" 360 30 420 30
  expect_ink "$1" "tagline" 46 390 266 80
  expect_ink "$1" "footer" 360 512 442 26
}

# The first frame decodes both pictures, which takes Wine a few seconds.
painted() { [ "$(import -window root -crop "1x1+$((X + 4))+$((Y + 566))" -depth 8 txt:- 2>/dev/null | grep -c '#101114')" = 1 ]; }
wait_for 300 painted || fail "the window was never painted"
capture 01-start
common_checks 01-start
expect_colour 01-start "${primary_fill[@]}" FF713B 20
expect_ink 01-start heading 360 109 472 112
expect_ink 01-start "folder path" 375 344 347 27
expect_ink 01-start "button text" 500 446 200 54

click "${primary_centre[@]}"
task_started
capture 02-preparing
common_checks 02-preparing
expect_ink 02-preparing heading 360 112 470 112
expect_ink 02-preparing subtitle 360 234 470 48
expect_ink 02-preparing "size line" 360 320 310 28

step "state 2 0.45 49283072 104857600"
capture 03-downloading
common_checks 03-downloading
expect_colour 03-downloading 366 301 FF713B 20          # the progress fill
expect_colour 03-downloading 820 301 26272F 8           # the track beyond it
expect_ink 03-downloading subtitle 360 234 470 48
expect_ink 03-downloading "size line" 360 320 310 28
expect_ink 03-downloading percent 783 320 52 28

step "state 3 0 104857600 104857600"
capture 04-verifying
common_checks 04-verifying
expect_colour 04-verifying 700 301 FF713B 20
expect_ink 04-verifying steps 387 364 425 70

step "state 4 0.5 104857600 104857600"
capture 05-installing
common_checks 05-installing

failure="Не удалось заменить файлы в папке установки: C:\\Users\\Игрок\\AppData\\Local\\Programs\\Korvane Launcher\\assets\\korvanelauncher\\textures\\interface\\buttons.pak занят другой программой (код 32). Закройте лаунчер и все его окна, затем нажмите «Повторить». Если ошибка повторяется, перезагрузите компьютер и попробуйте снова."
end_task "fail $failure"
capture 06-failed
common_checks 06-failed
expect_colour 06-failed "${primary_fill[@]}" FF713B 20
expect_ink 06-failed heading 360 114 470 115
expect_ink 06-failed message 360 248 460 158
expect_text 06-failed message 360 248 460 158 "$failure"

click "${primary_centre[@]}"  # "Повторить"
task_started
sleep 0.7                # a second press right after the start is taken for the rest of a double-click
click "${primary_centre[@]}"  # "Отменить установку"
step "state 2 0.2 20971520 104857600"
capture 07-cancelling
common_checks 07-cancelling
expect_ink 07-cancelling heading 360 112 470 112
expect_ink 07-cancelling "button text" 500 446 200 54

end_task "fail Установка отменена"
capture 08-idle-after-cancel
expect_colour 08-idle-after-cancel "${primary_fill[@]}" FF713B 20

click "${primary_centre[@]}"
task_started
step "state 5 0 104857600 104857600"
end_task "finish 0.3.1"
capture 09-done
common_checks 09-done
expect_colour 09-done "${primary_fill[@]}" FF713B 20  # "Запустить лаунчер"
expect_colour 09-done "${secondary_fill[@]}" 202127 8  # "Закрыть"
expect_ink 09-done heading 360 195 470 108
expect_ink 09-done text 360 321 462 68

click "${secondary_centre[@]}"  # "Закрыть"
# Only a process that has ended is waited for: one that stays (a dialog a wrong click opened) is
# failed and then killed on the way out.
if wait_for 100 bash -c "! kill -0 $harness 2>/dev/null"; then
  wait "$harness"; code=$?
  [ "$code" = 0 ] || fail "the installer ended with exit code $code"
  harness=
else
  fail "the window did not close"
fi

echo "screens: $(ls "$out" | wc -l) screenshots in $out, $failures failed checks"
[ "$failures" = 0 ]
