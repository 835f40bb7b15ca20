; The installer of the bundled sample suite, in two versions built from this one script:
;
;   makensis -DSAMPLE=<examples/sample> -DOUTFILE=old.exe suite.nsi
;       the old version: installs the old installation (suite\, modules\, data\).
;   makensis -DUPGRADE -DFRESH=<examples/fresh> -DLUMVAR=<lumvar.exe> -DOUTFILE=upgrade.exe suite.nsi
;       the upgrade, as a real one runs it: lumvar /backup before anything of the old version is
;       removed, then the new version's files (config\, data\, common\), then lumvar /restore with
;       /common. A verb that returns non-zero fails the installation: a message box (suppressed
;       with /S), the installer's exit code set to the tool's, and nothing further done.
;
; Both install into the folder given with /D= (default C:\Lumen Suite). The upgrade passes
; LUMVAR_LOG to the tool so that its run report lands in $TEMP\lumvar-upgrade.log, or in the file
; given on the command line with /LOG=<file>.
;
; Paths given with -D are host paths; makensis reads the files from there.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ShowInstDetails show
InstallDir "C:\Lumen Suite"
OutFile "${OUTFILE}"

!include "FileFunc.nsh"
!include "LogicLib.nsh"

!ifdef UPGRADE
  Name "Lumen Suite (upgrade)"
!else
  Name "Lumen Suite (old version)"
!endif

Page directory
Page instfiles

!ifdef UPGRADE

Var report
Var code

; Runs lumvar.exe with the command line and leaves its exit code in $code; a tool that could not
; be started counts as a failure (code "not started").
!macro RunLumvar commandLine
  ClearErrors
  ExecWait '"$PLUGINSDIR\lumvar.exe" ${commandLine}' $code
  ${If} ${Errors}
    StrCpy $code "not started"
  ${EndIf}
!macroend

; Ends the installation when the last verb failed: the message names the verb and the report,
; is answered by itself in silent mode (/SD), and the installer exits with the tool's code.
!macro StopUnlessDone verb detail
  ${If} $code != 0
    DetailPrint "lumvar ${verb} failed ($code); report: $report"
    MessageBox MB_OK|MB_ICONSTOP "lumvar ${verb} failed with exit code $code. ${detail}$\r$\nSee $report." /SD IDOK
    ${If} $code == "not started"
      SetErrorLevel 1
    ${Else}
      SetErrorLevel $code
    ${EndIf}
    Abort
  ${EndIf}
!macroend

Section "Upgrade"
  ; The tool comes with the installer: it is unpacked into the installer's own temporary folder,
  ; which only this process writes, and started from there by its full path.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=lumvar.exe" "${LUMVAR}"

  ; The report: opt-in, named by the environment the tool inherits.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOG=" $report
  ${If} ${Errors}
  ${OrIf} $report == ""
    StrCpy $report "$TEMP\lumvar-upgrade.log"
  ${EndIf}
  System::Call 'kernel32::SetEnvironmentVariable(t "LUMVAR_LOG", t "$report")'

  ; 1. Save the user's settings and data while the old version is still in place.
  DetailPrint "Saving the settings and data of the old version"
  !insertmacro RunLumvar '/backup "$INSTDIR\suite" "$INSTDIR\modules" "$INSTDIR\data"'
  !insertmacro StopUnlessDone "/backup" "Nothing has been removed; the old version is still installed."

  ; 2. Remove the old version.
  DetailPrint "Removing the old version"
  SetOutPath "$TEMP"
  RMDir /r "$INSTDIR\suite"
  RMDir /r "$INSTDIR\modules"
  RMDir /r "$INSTDIR\data"

  ; 3. Install the new version's files.
  SetOutPath "$INSTDIR"
  File /r "${FRESH}/*"

  ; 4. Bring the settings and data back into the new version.
  DetailPrint "Restoring the settings and data"
  !insertmacro RunLumvar '/restore "$INSTDIR\config" "$INSTDIR\data" "$INSTDIR\common" /common'
  !insertmacro StopUnlessDone "/restore" "The new version is installed; the saved files are kept in the common application data folder."
SectionEnd

!else

Section "Old version"
  SetOutPath "$INSTDIR"
  File /r "${SAMPLE}/*"
  ; git keeps no empty folders; the sample has one (examples/sample-empty-folders.txt).
  CreateDirectory "$INSTDIR\data\clientmanager\Esportazioni"
SectionEnd

!endif
