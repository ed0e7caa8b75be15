# Reports what in a script Windows PowerShell 5.1 would not run: syntax that came with PowerShell
# 7, and parameters and values that the commands gained after 5.1. Prints one finding a line,
# "<line>: <what>", and exits with the number of findings (0: nothing found).
#   pwsh -NoProfile -File tests/support/check-ps51.ps1 -Script <file.ps1>
param([Parameter(Mandatory = $true)][string]$Script)

$tokens = $null
$errors = $null
$ast = [Management.Automation.Language.Parser]::ParseFile((Convert-Path -LiteralPath $Script), [ref]$tokens, [ref]$errors)
$findings = [Collections.Generic.List[string]]::new()
foreach ($e in $errors) { $findings.Add("$($e.Extent.StartLineNumber): does not parse: $($e.Message)") }

# Operators that 5.1's tokenizer does not know: ?? ??= ?. ?[ && || and the ternary's ?.
$newTokens = 'QuestionQuestion', 'QuestionQuestionEquals', 'QuestionDot', 'QuestionLBracket', 'AndAnd', 'OrOr', 'QuestionMark'
foreach ($t in $tokens) {
    if ($newTokens -contains [string]$t.Kind) { $findings.Add("$($t.Extent.StartLineNumber): operator '$($t.Text)' is PowerShell 7 syntax") }
}

# Parameters the commands gained in PowerShell 6 or 7, by command.
$newParameters = @{
    'Invoke-WebRequest' = 'SkipCertificateCheck', 'SkipHttpErrorCheck', 'StatusCodeVariable', 'ResponseHeadersVariable', 'Resume',
        'HttpVersion', 'NoProxy', 'Authentication', 'Token', 'SslProtocol', 'MaximumRetryCount', 'RetryIntervalSec', 'Form',
        'SkipHeaderValidation', 'CustomMethod', 'ConnectionTimeoutSeconds', 'OperationTimeoutSeconds', 'AllowUnencryptedAuthentication',
        'PreserveAuthorizationOnRedirect', 'PreserveHttpMethodOnRedirect', 'AllowInsecureRedirect', 'UnixSocket'
    'ConvertFrom-Json' = 'AsHashtable', 'Depth', 'NoEnumerate', 'DateKind'
    'ConvertTo-Json' = 'AsArray', 'EnumsAsStrings', 'EscapeHandling'
    'ForEach-Object' = 'Parallel', 'ThrottleLimit', 'TimeoutSeconds', 'AsJob', 'UseNewRunspace'
    'Split-Path' = 'LeafBase', 'Extension'
    'Join-Path' = 'AdditionalChildPath'
    'Get-Content' = 'AsByteStream'
    'Set-Content' = 'AsByteStream'
    'Add-Content' = 'AsByteStream'
    'Start-Process' = 'Environment'
}
$newParameters['Invoke-RestMethod'] = $newParameters['Invoke-WebRequest']
$newEncodings = 'utf8NoBOM', 'utf8BOM', 'ansi'
$commands = $ast.FindAll({ param($n) $n -is [Management.Automation.Language.CommandAst] }, $true)
foreach ($command in $commands) {
    $name = $command.GetCommandName()
    $line = $command.Extent.StartLineNumber
    $positional = 0
    $elements = $command.CommandElements
    for ($i = 1; $i -lt $elements.Count; $i++) {
        $element = $elements[$i]
        if ($element -is [Management.Automation.Language.CommandParameterAst]) {
            $parameter = $element.ParameterName
            if ($name -and $newParameters.ContainsKey($name)) {
                foreach ($p in $newParameters[$name]) {
                    if ($p -like "$parameter*" -and $parameter.Length -ge 2) { $findings.Add("${line}: $name -$p came after 5.1") }
                }
            }
            if ($parameter -eq 'Encoding' -and $i + 1 -lt $elements.Count -and $newEncodings -contains $elements[$i + 1].Extent.Text.Trim("'", '"')) {
                $findings.Add("${line}: -Encoding $($elements[$i + 1].Extent.Text) came after 5.1")
            }
            if ($element.Argument -eq $null -and $i + 1 -lt $elements.Count -and -not ($elements[$i + 1] -is [Management.Automation.Language.CommandParameterAst])) {
                $i++ # the parameter's value
            }
        } else {
            $positional++
        }
    }
    if ($name -eq 'Join-Path' -and $positional -gt 2) { $findings.Add("${line}: Join-Path with more than two paths came after 5.1") }
}

foreach ($f in $findings) { Write-Output $f }
exit $findings.Count
