@echo off
rem Opens the reader settings dialog of ..\ReaderSettings.dll in the host simulator, with
rem the host profile in host\ (sub-application folder host\subapp-sim).
rem Further arguments go to modhost, for example: try.cmd --script sample-script.txt
rem (a script is played with Mode=record whatever host\Host.ini says).
pushd "%~dp0"
echo try: starting modhost with the host profile %~dp0host
"%~dp0modhost.exe" --profile "%~dp0host" --module "%~dp0..\ReaderSettings.dll" %*
set status=%ERRORLEVEL%
popd
exit /b %status%
