#!/bin/sh
# Writes the delivered plan store and settings file (GBK, CR LF).
set -e
cd "$(dirname "$0")"
plan="百度^www.baidu.com^1#腾讯网^www.qq.com^1#网易^www.163.com^0#新浪网^www.sina.com.cn^1#搜狐^www.sohu.com^0#淘宝网^www.taobao.com^1#京东^www.jd.com^0#哔哩哔哩^www.bilibili.com^1#凤凰网^www.ifeng.com^0#新华网^www.xinhuanet.com^1#人民网^www.people.com.cn^0"
printf '常见网站=%s\r\n' "$plan" | iconv -f UTF-8 -t GBK > Projects.dat
printf '[config]\r\nproject=常见网站\r\n' | iconv -f UTF-8 -t GBK > DestLists.ini
