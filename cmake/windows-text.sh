#!/bin/sh
# Copies standard input to standard output as a text file that every
# Windows reader shows right (Notepad of Windows 7, "type"): a UTF-8
# byte-order mark first and CR LF line ends. Fails only when a write fails.
printf '\357\273\277'
sed 's/$/\r/'
