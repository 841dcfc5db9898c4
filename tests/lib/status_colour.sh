# The main window's status picture as the Wine test scripts see it on the
# screen, sourced by them. The caller defines drv (the window driver) and
# mainWin (the main window's selector).

# The status picture's colour: green, amber or red.
statusColour() {
  local x y w h r g b
  read -r x y w h < <(drv rect "$mainWin" 1020 | tr -d '\r')
  read -r r g b < <(import -window root -crop "$((w / 2))x$((h / 2))+$((x + w / 2))+$((y + h / 4))" +repage \
    -resize 1x1\! -depth 8 txt:- | sed -n 2p | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/')
  if ((g > r)); then echo green; elif ((g > 90)); then echo amber; else echo red; fi
}
# Waits up to $2 seconds for the status colour $1; prints the seconds taken.
waitColour() {
  local start=$SECONDS
  while ((SECONDS - start <= $2)); do
    [[ $(statusColour) == "$1" ]] && { echo $((SECONDS - start)); return 0; }
    sleep 0.2
  done
  return 1
}
# Samples the status colour every 0.3 s for $1 seconds; prints the colours seen.
watchColours() {
  local start=$SECONDS seen=''
  while ((SECONDS - start < $1)); do
    local c
    c=$(statusColour)
    [[ " $seen " == *" $c "* ]] || seen="$seen $c"
    sleep 0.3
  done
  echo "${seen# }"
}
