@echo off
rem Removes the registry keys of Orlin Reelwright when the product is uninstalled.
rem Only the product's own keys are touched; missing keys are not an error.
setlocal
set VENDOR=HKLM\SOFTWARE\Halvern Corporation
reg delete "%VENDOR%\Orlin Reelwright" /f /reg:32 >nul 2>&1
reg delete "%VENDOR%\Orlin Reelwright Template Data" /f /reg:32 >nul 2>&1
reg delete "%VENDOR%\Shared Info\AppDB\Orlin Reelwright" /f /reg:32 >nul 2>&1
endlocal
exit /b 0
