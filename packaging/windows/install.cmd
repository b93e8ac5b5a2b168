@echo off
rem Registers Telvario for this machine, as administrator: on 64-bit Windows the x64 component
rem with the 64-bit regsvr32 and the x86 component with the 32-bit one (in SysWOW64); on 32-bit
rem Windows the x86 component only. Exits with 1 when a registration failed.
setlocal
set "here=%~dp0"
set failed=0
call :administrator
if errorlevel 1 exit /b 1
rem A 32-bit prompt on 64-bit Windows sees the 64-bit system folder as Sysnative.
set "native=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "native=%SystemRoot%\Sysnative"
set "wow=%SystemRoot%\SysWOW64"
set windows=32-bit
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set windows=64-bit
if defined PROCESSOR_ARCHITEW6432 set windows=64-bit
if %windows%==64-bit (
  call :register "%native%\regsvr32.exe" "%here%x64\Telvario.DLL" 64-bit
  call :thirty_two_bit_runs
  if not errorlevel 1 call :register "%wow%\regsvr32.exe" "%here%x86\Telvario.DLL" 32-bit
) else (
  call :register "%native%\regsvr32.exe" "%here%x86\Telvario.DLL" 32-bit
)
if %failed% neq 0 (
  echo install: a registration failed; see above.
  exit /b 1
)
echo install: Telvario is registered: scripts create it as "Telvario.Sonde".
exit /b 0

:register
"%~1" /s "%~2"
if errorlevel 1 (
  echo install: registering the %3 component failed: %~2
  set failed=1
  exit /b 1
)
echo install: registered the %3 component: %~2
exit /b 0

:administrator
rem Only an administrator may write below HKEY_LOCAL_MACHINE\SOFTWARE.
reg add "HKEY_LOCAL_MACHINE\SOFTWARE\Telvario" /v InstallCheck /t REG_SZ /d 1 /f >nul 2>&1
if errorlevel 1 (
  echo install: run this as administrator: right-click install.cmd, "Run as administrator".
  exit /b 1
)
reg delete "HKEY_LOCAL_MACHINE\SOFTWARE\Telvario" /f >nul 2>&1
exit /b 0

:thirty_two_bit_runs
"%wow%\cmd.exe" /c exit 0 >nul 2>&1
if errorlevel 1 (
  echo install: 32-bit programs do not run on this system; the 32-bit component was not registered.
  exit /b 1
)
exit /b 0
