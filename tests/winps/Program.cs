// PowerShell's console host, started the way pwsh.exe starts it, under the name powershell.exe.
internal static class Program
{
    private static int Main(string[] args)
    {
        return Microsoft.PowerShell.UnmanagedPSEntry.Start(args, args.Length);
    }
}
