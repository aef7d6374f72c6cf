#!/usr/bin/env bash
# Online installers in their window, driven as a person would: the progress
# bar follows the download (maximum = Content-Length); a failed download opens
# the failure window ("重试" back to the first page, "退出安装" ends with 0);
# the proxy window (texts, layout, greying, the address check, the port box,
# the trimmed address) sets a proxy with credentials through which the next
# attempt succeeds; a 200 page that is not a package gives "安装包错误。".
# Screenshots: build/artifacts/online-failure.png, online-proxy.png,
# online-package-error.png.
source "$(dirname "$0")/lib/online-common.sh"
# Control IDs: the main window (Forms/ControlIds.h), the base dialog's OK
# and Cancel, the failure window and the proxy window (their own headers).
TITLE=102 CLOSE=105 INSTALL=107 EDIT=110 PROXYLINK=114 PROGRESS=116 RUNAPP=118 OK=1 CANCEL=2
LINE1=500 LINE2=501 LINE3=502 MEMURL=503 BROWSER=505 COPY=506
NOPROXY=600 USEPROXY=601 LBLADDR=602 ADDR=603 LBLPORT=604 PORT=605 LBLUSER=606 USER=607 LBLPASS=608 PASS=609
FAILURE=TDownloadFailureForm PROXYFORM=TIndyProxySettingsForm
geom() { drv geom "$@"; }
field() { geom "$@" | cut -d' ' -f"${FIELD}"; }
shown_enabled() { geom "$1" "${2:-TMainForm}" | cut -d' ' -f5-6; }
title_is() {  # text, tries of 0.1 s
  local i
  for i in $(seq 1 "${2:-100}"); do [ "$(drv text $TITLE)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}

# ---- The progress bar during a slow download, then the installation
online_pkg progress Setup_21 "$ORIGIN/files/progress.exe?slow=40" ""
cp "$WORK/progress/Full.exe" "$SERVED/progress.exe"
size=$(stat -c %s "$SERVED/progress.exe")
start_app Setup_21
drv wait TMainForm 10000 >/dev/null
check "online mode: the proxy link is shown" "1 1" "$(shown_enabled $PROXYLINK)"
drv click $INSTALL
max=""
for i in $(seq 1 100); do
  read -r pos m < <(drv progress $PROGRESS)
  if [ "${m:-100}" != 100 ] && [ "$pos" -lt "$m" ]; then max=$m; break; fi
  sleep 0.05
done
check "the progress bar's maximum is the Content-Length while downloading" "$size" "$max"
title_is "安装完成" 200 || true
check "the downloaded package installs: finished look" "安装完成" "$(drv text $TITLE)"
check "the product files landed" yes "$(installed progress)"
drv click $RUNAPP
wait_app
check "the run button ends the installer with 0" 0 "$RC"

# ---- A 404: the failure window
url="$ORIGIN/__proxy/files/viaproxy.exe"
online_pkg viaproxy Setup_22 "$url" ""
cp "$WORK/viaproxy/Full.exe" "$SERVED/viaproxy.exe"
start_app Setup_22
drv wait TMainForm 10000 >/dev/null
drv settext $EDIT "$WINROOT\\typed"
drv click $INSTALL
if drv wait $FAILURE 10000 >/dev/null; then
  sleep 0.5
  import -window root "$ARTIFACTS/online-failure.png"
  check "failure window: caption" "在线示例 在线安装失败" "$(drv caption $FAILURE)"
  check "failure window: the three lines" \
    "您的电脑可能没有连接到互联网，在线安装失败。|如果您是通过代理服务器上网的，您可以点击【重试】按钮返回到首页设置代理服务器。|您还可以使用以下地址下载离线安装包，然后运行离线安装包进行安装。" \
    "$(drv text $LINE1 $FAILURE)|$(drv text $LINE2 $FAILURE)|$(drv text $LINE3 $FAILURE)"
  check "failure window: the address" "$url" "$(drv text $MEMURL $FAILURE)"
  check "failure window: buttons" "使用浏览器下载|复制到剪贴板|退出安装|重试" \
    "$(drv text $BROWSER $FAILURE)|$(drv text $COPY $FAILURE)|$(drv text $OK $FAILURE)|$(drv text $CANCEL $FAILURE)"
  check "failure window: three lines of 30 px, the address fills the rest above the strip" \
    "8 8 518 30|8 38 518 30|8 68 518 30|8 98 518 81" \
    "$(geom $LINE1 $FAILURE | cut -d' ' -f1-4)|$(geom $LINE2 $FAILURE | cut -d' ' -f1-4)|$(geom $LINE3 $FAILURE | cut -d' ' -f1-4)|$(geom $MEMURL $FAILURE | cut -d' ' -f1-4)"
  check "failure window: browser and copy buttons in the strip, 7 px apart" "0 8 137 25|144 8 121 25" \
    "$(geom $BROWSER $FAILURE | cut -d' ' -f1-4)|$(geom $COPY $FAILURE | cut -d' ' -f1-4)"
  check "failure window: 退出安装 and 重试 at the right edge of a 534 px client area" "368 8 75 25|451 8 75 25" \
    "$(geom $OK $FAILURE | cut -d' ' -f1-4)|$(geom $CANCEL $FAILURE | cut -d' ' -f1-4)"
  check "the main window is disabled meanwhile" 0 "$(drv enabled TMainForm)"
  drv click $CANCEL $FAILURE
  drv gone $FAILURE 5000 >/dev/null
else
  check "a 404 opens the failure window" yes no
fi
sleep 0.3
check "重试: the first page again" "在线示例 1 1" "$(drv text $TITLE) $(shown_enabled $INSTALL)"
check "重试: the proxy link is shown" "1 1" "$(shown_enabled $PROXYLINK)"
check "重试: the typed folder is kept" "$WINROOT\\typed" "$(drv text $EDIT)"

# ---- The proxy window
drv click $PROXYLINK
if drv wait $PROXYFORM 5000 >/dev/null; then
  check "proxy window: caption" "代理服务器设置" "$(drv caption $PROXYFORM)"
  check "proxy window: texts" "不使用代理服务器|使用以下指定的代理服务器|服务器地址：|端口：|用户名：|密码：|确定|取消" \
    "$(for id in $NOPROXY $USEPROXY $LBLADDR $LBLPORT $LBLUSER $LBLPASS $OK $CANCEL; do drv text $id $PROXYFORM; done | paste -sd'|')"
  check "proxy window: 430 x 304 client area, OK and Cancel at its right edge" "264 8 75 25|347 8 75 25" \
    "$(geom $OK $PROXYFORM | cut -d' ' -f1-4)|$(geom $CANCEL $PROXYFORM | cut -d' ' -f1-4)"
  check "proxy window: radio buttons" "40 40 114 16|40 72 162 16" \
    "$(geom $NOPROXY $PROXYFORM | cut -d' ' -f1-4)|$(geom $USEPROXY $PROXYFORM | cut -d' ' -f1-4)"
  check "proxy window: labels" "64 106 72 14|100 135 36 14|88 164 48 14|100 194 36 14" \
    "$(for id in $LBLADDR $LBLPORT $LBLUSER $LBLPASS; do geom $id $PROXYFORM | cut -d' ' -f1-4; done | paste -sd'|')"
  # The port box's arrows take the last 16 of its 121 pixels.
  check "proxy window: fields" "136 102 201 22|136 131 105 22|136 160 201 22|136 190 201 22" \
    "$(for id in $ADDR $PORT $USER $PASS; do geom $id $PROXYFORM | cut -d' ' -f1-4; done | paste -sd'|')"
  greyed() { for id in $LBLADDR $ADDR $LBLPORT $PORT $LBLUSER $USER $LBLPASS $PASS; do geom $id $PROXYFORM | cut -d' ' -f6; done | paste -sd' '; }
  check "proxy window: without a proxy its fields are greyed" "0 0 0 0 0 0 0 0" "$(greyed)"
  check "proxy window: a new record: no proxy, empty fields, port 8080" "1 0||8080||" \
    "$(drv checked $NOPROXY $PROXYFORM) $(drv checked $USEPROXY $PROXYFORM)|$(drv text $ADDR $PROXYFORM)|$(drv text $PORT $PROXYFORM)|$(drv text $USER $PROXYFORM)|$(drv text $PASS $PROXYFORM)"
  drv click $USEPROXY $PROXYFORM
  sleep 0.2
  check "proxy window: choosing a proxy enables its fields" "1 1 1 1 1 1 1 1" "$(greyed)"
  drv key $PROXYFORM 9  # Tab: from the radio button to the address
  drv key $PROXYFORM 9  # and on to the port box
  drv key $PROXYFORM 38  # the up arrow steps the port
  sleep 0.2
  check "proxy window: the port box steps by 1" 8081 "$(drv text $PORT $PROXYFORM)"
  drv settext $ADDR "   " $PROXYFORM
  drv click $OK $PROXYFORM
  check "proxy window: a blank address is refused" "服务器地址不能为空，请重新输入。" "$(drv msgbox 5000)"
  drv msgbox-press 1
  sleep 0.3
  check "proxy window: the focus goes to the address, the window stays" "$ADDR 1" \
    "$(drv focus $PROXYFORM) $(drv wait $PROXYFORM 100 >/dev/null && echo 1)"
  drv settext $ADDR "  127.0.0.1  " $PROXYFORM
  drv settext $PORT "$AUTHPROXY" $PROXYFORM
  drv settext $USER "user" $PROXYFORM
  drv settext $PASS "pass" $PROXYFORM
  sleep 0.3
  import -window root "$ARTIFACTS/online-proxy.png"
  drv click $OK $PROXYFORM
  drv gone $PROXYFORM 5000 >/dev/null
  drv click $PROXYLINK
  drv wait $PROXYFORM 5000 >/dev/null
  check "proxy window: reopened with what was accepted, the address trimmed" "0 1|127.0.0.1|$AUTHPROXY|user|pass" \
    "$(drv checked $NOPROXY $PROXYFORM) $(drv checked $USEPROXY $PROXYFORM)|$(drv text $ADDR $PROXYFORM)|$(drv text $PORT $PROXYFORM)|$(drv text $USER $PROXYFORM)|$(drv text $PASS $PROXYFORM)"
  drv settext $ADDR "elsewhere" $PROXYFORM
  drv key $PROXYFORM 27  # Esc: nothing is written
  drv gone $PROXYFORM 5000 >/dev/null
else
  check "the proxy link opens the proxy window" yes no
fi

# ---- The second attempt goes through the proxy (with its credentials) and succeeds
temp_before=$(temp_packages)
drv click $INSTALL
title_is "安装完成" 200 || true
check "through the proxy: finished look" "安装完成" "$(drv text $TITLE)"
check "through the proxy: installed into the typed folder" yes "$(installed typed)"
check "through the proxy: the package waits in the temporary folder" $((temp_before + 1)) "$(temp_packages)"
drv click $CLOSE  # instead of the run button: the window's tear-down
wait_app
check "closing the finished window ends with 0" 0 "$RC"
check "closing the finished window deletes the downloaded package" "$temp_before" "$(temp_packages)"

# ---- "退出安装" ends the installer at once with 0
start_app Setup_22
drv wait TMainForm 10000 >/dev/null
drv settext $EDIT "$WINROOT\\abandoned\\deep"
drv click $INSTALL
drv wait $FAILURE 10000 >/dev/null
drv click $OK $FAILURE
wait_app
check "退出安装 ends the installer with 0" 0 "$RC"
check "退出安装 takes back the install folders the destination check made" no \
  "$([ -e "$ROOT/abandoned" ] && echo yes || echo no)"
wlog=$(ls -t "$WINEPREFIX"/drive_c/users/*/Temp/"在线示例 Setup "*.log 2>/dev/null | head -1)
check "the failed attempt in the window is a line of the log with its reason" 1 \
  "$(tr -d '\r' <"$wlog" | grep -c "ERROR 无法下载 $url：HTTP/1.1 404")"

# ---- A 200 page that is not a package: "安装包错误。" and the first page
online_pkg page Setup_23 "$ORIGIN/fixed/20000" ""
start_app Setup_23
drv wait TMainForm 10000 >/dev/null
drv click $INSTALL
check "not a package: the message" "安装包错误。" "$(drv msgbox 10000)"
import -window root "$ARTIFACTS/online-package-error.png"  # the box with the error icon
drv msgbox-press 1
sleep 0.3
check "not a package: the first page again" "在线示例 1 1" "$(drv text $TITLE) $(shown_enabled $INSTALL)"
drv click $CLOSE  # idle again, so the window closes
wait_app
check "not a package: the window closes normally" 0 "$RC"

finish
