# Runs the confinement suite against the production helper on this Windows
# machine: the helper confines the probe child with one fixed request on a
# scratch tree, and each row says what the child could and could not do (its
# token, the file matrix, the DACLs left behind, its job, the network).
#
#   tools\prove-confinement.ps1 -BuildDir <tree> [-Release <zip>] [-Filter <gtest filter>]
#
# -BuildDir: a build tree holding the test programs: the workflow's
#   "mingw-build" artifact (the release's toolchain), or an msvc preset build.
#   Without it, one is built with the msvc preset (Visual Studio 2022 and
#   vcpkg's GoogleTest).
# -Release: a release zip; the helper under test must be its very bytes.
# The run leaves AppContainer profiles named "zub-confinement" and "zub-confinement-2" behind.
param(
    [string]$BuildDir,
    [string]$Release,
    [string]$Filter = '*'
)
$ErrorActionPreference = 'Stop'
$source = Split-Path -Parent $PSScriptRoot

if (-not $BuildDir) {
    $BuildDir = Join-Path $source 'build/msvc'
    $vcpkg = Join-Path $env:VCPKG_INSTALLATION_ROOT 'scripts/buildsystems/vcpkg.cmake'
    Push-Location $source
    try {
        cmake --preset msvc "-DCMAKE_TOOLCHAIN_FILE=$vcpkg" -DVCPKG_TARGET_TRIPLET=x64-windows-static -DCMAKE_MSVC_RUNTIME_LIBRARY=MultiThreaded
        if ($LASTEXITCODE) { exit $LASTEXITCODE }
        cmake --build --preset msvc --target zub_confinement_tests
        if ($LASTEXITCODE) { exit $LASTEXITCODE }
    } finally { Pop-Location }
}

# The suite finds the helper beside it; the msvc tree keeps each configuration apart.
$suite = Get-ChildItem -Recurse -File -Path $BuildDir -Filter zub_confinement_tests.exe | Select-Object -First 1
if (-not $suite) { throw "no zub_confinement_tests.exe below $BuildDir" }
# The helper the suite runs: at the top of the tree, in the same configuration directory.
$config = if ($suite.Directory.Name -ne 'e2e') { $suite.Directory.Name } else { '' }
$helper = Get-Item ([IO.Path]::Combine((Resolve-Path $BuildDir).Path, $config, 'zub-sandbox-helper.exe'))
Write-Output "helper: $($helper.FullName)"
Write-Output "sha256: $((Get-FileHash -Algorithm SHA256 $helper.FullName).Hash.ToLower())"

if ($Release) {
    $unpacked = Join-Path ([IO.Path]::GetTempPath()) ("zub-release-" + [guid]::NewGuid())
    Expand-Archive -Path $Release -DestinationPath $unpacked
    $sums = Get-ChildItem -Recurse -File -Path $unpacked -Filter SHA256SUMS | Select-Object -First 1
    $line = Get-Content $sums.FullName | Where-Object { $_ -match 'zub-sandbox-helper\.exe$' }
    $expected = ($line -split '\s+')[0].ToLower()
    $actual = (Get-FileHash -Algorithm SHA256 $helper.FullName).Hash.ToLower()
    Remove-Item -Recurse -Force $unpacked
    if ($expected -ne $actual) { throw "the helper under test is not the release's: $actual, release $expected" }
    Write-Output "the helper under test is the release's zub-sandbox-helper.exe"
}

$env:ZUB_E2E_TARGET = 'production'
& $suite.FullName "--gtest_filter=$Filter"
exit $LASTEXITCODE
