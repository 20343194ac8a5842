#!/bin/sh
# The same request done by hand with the usual tools, as an integrator
# might script it: reset the INI keys, log the request, copy, run and remove
# the client. For comparison only: it is neither atomic nor safe to run
# twice at once, and it cuts nothing out of the parameter string's bytes.
p=$1
pub=$(printf '%s' "$p" | cut -d, -f2)
ini="${pub}tolmex.ini"
[ -f "$ini" ] || : > "$ini"
grep -q '^\[return\]' "$ini" || printf '[return]\r\n' >> "$ini"
for key in result sub_code sub_desc trade_no out_trade_no buyer_user_id \
           buyer_logon_id total_amount; do
  if grep -q "^$key=" "$ini"; then
    sed -i "s/^$key=.*\$/$key=\r/" "$ini"
  else
    sed -i "/^\[return\]/a $key=\r" "$ini"
  fi
done
mkdir -p "${pub}logpay"
printf '%s\t%s\r\r\n' "$(date '+%Y-%m-%d %H:%M:%S:%3N')" \
  "接收的参数字符串：$p" >> "${pub}logpay/pay_log$(date +%Y%m%d).txt"
rm -f "${pub}mart.exe"
cp -p "${pub}mart.dll" "${pub}mart.exe"
[ -f "${pub}mart.exe" ] || { echo "缺少关键性文件,请与供应商联系! " >&2; exit 2; }
"${pub}mart.exe" "$p"
rm -f "${pub}mart.exe"
