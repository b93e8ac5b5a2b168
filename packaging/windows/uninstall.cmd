@echo off
rem Removes Telvario's registration from this machine, as administrator: on 64-bit Windows the
rem x64 component's with the 64-bit regsvr32 and the x86 component's with the 32-bit one (in
rem SysWOW64); on 32-bit Windows the x86 component's only. Exits with 1 when a removal failed.
setlocal
set "here=%~dp0"
set failed=0
call :administrator
if errorlevel 1 exit /b 1
set "native=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "native=%SystemRoot%\Sysnative"
set "wow=%SystemRoot%\SysWOW64"
set windows=32-bit
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set windows=64-bit
if defined PROCESSOR_ARCHITEW6432 set windows=64-bit
if %windows%==64-bit (
  call :unregister "%native%\regsvr32.exe" "%here%x64\Telvario.DLL" 64-bit
  call :thirty_two_bit_runs
  if not errorlevel 1 call :unregister "%wow%\regsvr32.exe" "%here%x86\Telvario.DLL" 32-bit
) else (
  call :unregister "%native%\regsvr32.exe" "%here%x86\Telvario.DLL" 32-bit
)
if %failed% neq 0 (
  echo uninstall: a removal failed; see above.
  exit /b 1
)
echo uninstall: Telvario's registration is removed; this folder can be deleted.
exit /b 0

:unregister
"%~1" /u /s "%~2"
if errorlevel 1 (
  echo uninstall: removing the %3 component's registration failed: %~2
  set failed=1
  exit /b 1
)
echo uninstall: removed the %3 component's registration: %~2
exit /b 0

:administrator
reg add "HKEY_LOCAL_MACHINE\SOFTWARE\Telvario" /v InstallCheck /t REG_SZ /d 1 /f >nul 2>&1
if errorlevel 1 (
  echo uninstall: run this as administrator: right-click uninstall.cmd, "Run as administrator".
  exit /b 1
)
reg delete "HKEY_LOCAL_MACHINE\SOFTWARE\Telvario" /f >nul 2>&1
exit /b 0

:thirty_two_bit_runs
"%wow%\cmd.exe" /c exit 0 >nul 2>&1
if errorlevel 1 (
  echo uninstall: 32-bit programs do not run on this system; there is no 32-bit registration.
  exit /b 1
)
exit /b 0
