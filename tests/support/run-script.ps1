# Runs an installation script with a stand-in for the COM object WScript.Shell, which PowerShell
# has only on Windows. The stand-in's shortcut records what the script set: Save() writes
# {"TargetPath":..,"WorkingDirectory":..,"IconLocation":..} as JSON to the shortcut's own path.
#   pwsh -NoProfile -NonInteractive -File tests/support/run-script.ps1 -Script <install.ps1>
param([Parameter(Mandatory = $true)][string]$Script)

function New-ShortcutStandIn([string]$path) {
    # Like the real object, it only makes .lnk and .url shortcuts.
    if ($path -notmatch '\.(lnk|url)$') {
        throw "CreateShortcut: '$path' is no shortcut name"
    }
    $shortcut = [pscustomobject]@{ FullName = $path; TargetPath = ''; WorkingDirectory = ''; IconLocation = '' }
    $shortcut | Add-Member -MemberType ScriptMethod -Name Save -Value {
        $record = [ordered]@{
            TargetPath = $this.TargetPath
            WorkingDirectory = $this.WorkingDirectory
            IconLocation = $this.IconLocation
        }
        # No folders are made: saving into a missing folder fails as it does on Windows.
        [IO.File]::WriteAllText($this.FullName, (ConvertTo-Json $record), [Text.UTF8Encoding]::new($false))
    }
    return $shortcut
}

function New-Object {
    [CmdletBinding(DefaultParameterSetName = 'Net')]
    param(
        [Parameter(ParameterSetName = 'Net', Mandatory = $true, Position = 0)][string]$TypeName,
        [Parameter(ParameterSetName = 'Net', Position = 1)][Alias('Args')][object[]]$ArgumentList,
        [Parameter(ParameterSetName = 'Com', Mandatory = $true)][string]$ComObject,
        [Parameter(ParameterSetName = 'Com')][switch]$Strict,
        [System.Collections.IDictionary]$Property
    )
    if ($PSCmdlet.ParameterSetName -eq 'Com') {
        if ($ComObject -ne 'WScript.Shell') {
            throw "New-Object: no stand-in for the COM object '$ComObject'"
        }
        $shell = [pscustomobject]@{}
        $shell | Add-Member -MemberType ScriptMethod -Name CreateShortcut -Value {
            param([string]$path)
            New-ShortcutStandIn $path
        }
        return $shell
    }
    Microsoft.PowerShell.Utility\New-Object @PSBoundParameters
}

# Windows PowerShell writes its error reports as plain text; so does this run.
if ($PSStyle) { $PSStyle.OutputRendering = 'PlainText' }
& (Convert-Path -LiteralPath $Script)
