@echo off
rem Opens the reader settings dialog of ..\ReaderSettings.dll in the host simulator, with
rem the host profile in host\ (sub-application folder host\subapp-sim).
rem Further arguments go to modhost, for example: try.cmd --script sample-script.txt
rem (a script needs Mode=record in host\Host.ini).
pushd "%~dp0"
"%~dp0modhost.exe" --profile "%~dp0host" --module "%~dp0..\ReaderSettings.dll" %*
set status=%ERRORLEVEL%
popd
exit /b %status%
