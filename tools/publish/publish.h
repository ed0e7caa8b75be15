// orvan-publish: writes a release tree for the distribution server and checks served or written
// trees against what the installer demands of them. Everything here runs on the Linux host.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The names of an installation, the rules of payload paths, strict UTF-8 and Windows' letter
// case: shared with the uninstaller.
#include "package/case.h"
#include "package/names.h"
#include "package/path_list.h"
#include "package/paths.h"
#include "package/utf8.h"

// ---- Names and limits the installer fixes ----

inline constexpr std::string_view kCatalogName = "katalog.json";
// Where build puts the manifest, relative to "games/"; the catalog names it by this reference.
inline constexpr std::string_view kManifestReference = "launcher/update.json";
// The manifest's signature lies at the manifest's own address with this appended.
inline constexpr std::string_view kSignatureSuffix = ".sig";
// The manifest member that names the signing key (SHA-256 of its DER SubjectPublicKeyInfo), so
// that verify can tell a wrong key from a changed manifest. The installer does not read it.
inline constexpr std::string_view kKeyMember = "signaturschluessel";

inline constexpr std::uint64_t kDefaultPartSize = 8ull << 20;
// Below this a part costs the installer more in requests than it carries; a size meant as
// "100M" but written "100" lands here. build refuses it unless told --force.
inline constexpr std::uint64_t kMinPartSize = 64ull << 10;
// The installer reads each part whole into one .NET byte array before appending it; far below
// that array's limit, and a size no publisher needs.
inline constexpr std::uint64_t kMaxPartSize = 1ull << 30;
// Payloads at least this large get a progress line while they are packed.
inline constexpr std::uint64_t kProgressThreshold = 64ull << 20;
// In the package, the payload's files lie below this folder.
inline constexpr std::string_view kPayloadPrefix = "Inhalt/";

// ---- Rules shared by build and verify (rules.cpp) ----
// Each *Problem function returns an empty text when the input is fine, otherwise one German
// sentence fragment saying what is wrong.

bool isDigestText(std::string_view text);
// One path component as Windows would have to create it.
std::string windowsNameProblem(std::string_view name);
// The manifest's version: it names a temporary folder that the installer later deletes.
std::string versionProblem(std::string_view version);
// The form build asks of a new version on top of that: an ASCII letter or digit, then up to
// kMaxReleaseVersionLength letters, digits, ".", "-", "_" and "+" (1.4.0, 2.0-beta.1,
// 1.4.0+build.7). Blanks and letters outside ASCII are legal for the installer but make poor
// folder, part and object names; build refuses them unless told --force.
inline constexpr std::size_t kMaxReleaseVersionLength = 40;
std::string releaseVersionProblem(std::string_view version);
// The path of a payload file below the install folder, "/"-separated as in the zip: the rules
// of package/paths.h, lengths included.
std::string payloadPathProblem(std::string_view relative);
// The file name of a part's local copy: the text of its url after the last "/" or "\".
std::string_view partFileName(std::string_view url);
// The installer joins the parts into a file of this name beside them, so no part may take it.
inline constexpr std::string_view kPackageFileName = "launcher.zip";
std::string partFileNameProblem(std::string_view url);
// "8M", "64K", "1G", "4096"; false for zero, junk, or more than kMaxPartSize.
bool parsePartSize(std::string_view text, std::uint64_t& size);
// "https://HOST[:PORT]/games/", the installer's own rule for its base URL.
bool isInstallerBaseUrl(std::string_view url);

// ---- URI references (uri.cpp) ----

struct UriParts {
    bool hasScheme = false;
    std::string scheme;
    bool hasAuthority = false;
    std::string authority;
    std::string path;
    bool hasQuery = false;
    std::string query;
    bool hasFragment = false;
    std::string fragment;
};

UriParts splitUri(std::string_view text);
std::string joinUri(const UriParts& parts);
std::string removeDotSegments(std::string_view path);
// Strict resolution of a reference against an absolute base URI.
std::string resolveReference(std::string_view base, std::string_view reference);
// The escaped form a request needs: spaces, controls, bytes outside ASCII and a "%" that starts
// no escape are percent-encoded, everything else is left as written.
std::string escapeUri(std::string_view uri);
std::string percentDecode(std::string_view text);

// ---- SHA-256 through libcrypto (digest.cpp) ----

struct Sha256;
Sha256* sha256Begin();
void sha256Add(Sha256* state, const void* data, std::size_t size);
// Ends and frees the state; lower-case hex.
std::string sha256Finish(Sha256* state);
// Digest of a file; empty text when it cannot be read (error filled in).
std::string sha256File(const std::string& path, std::string& error);

// ---- HTTP(S) through libcurl (fetch.cpp) ----

struct FetchResult {
    bool ok = false;          // a response came (whatever its status)
    long status = 0;
    std::string contentType;
    std::string cacheControl; // the final response's headers, empty when not sent
    std::string expires;
    std::string date;
    std::string finalUrl;     // where the last redirect led, the request's own URL without one
    std::string error;        // transport failure when !ok
};

// Body into memory (toFile empty) or into the file toFile. caFile may be empty.
FetchResult fetchUrl(const std::string& url, const std::string& caFile, std::string* body,
                     const std::string& toFile);
// The bytes of a file on disk; false with the system's reason in error.
bool readLocalFile(const std::string& path, std::string& body, std::string& error);
// Catalog, manifest and signature must reach the installer fresh: caches may keep them this long.
inline constexpr long long kMaxDocumentCacheSeconds = 300;
// The caching a response's Cache-Control, Expires and Date headers allow (empty texts for
// headers not sent), judged against kMaxDocumentCacheSeconds; now stands in for a missing Date.
// Here, beside the fetching, since the dates are read as libcurl reads them.
std::string documentCachingProblem(const std::string& cacheControl, const std::string& expires,
                                   const std::string& date, std::time_t now);

// ---- Manifest signatures through libcrypto (signature.cpp) ----
// ECDSA on P-256 over SHA-256 of the manifest's exact bytes. The signature file holds r and s,
// 32 bytes each, big-endian, one after the other (IEEE P1363), in base64 (88 characters) and a
// line feed; a reader takes it with or without that line feed, or with CR LF.

struct ManifestKey;
// A P-256 key from a PEM file, the private one to sign or the public one to check; anything
// else (another curve or algorithm, the other half of the pair, an encrypted file) gives
// nullptr and a German sentence in error.
ManifestKey* loadManifestKey(const std::string& path, bool privateKey, std::string& error);
void freeManifestKey(ManifestKey* key);
// SHA-256 of the public key's DER SubjectPublicKeyInfo, lower-case hex (as
// "openssl pkey -pubin -outform DER | sha256sum" prints it).
std::string manifestKeyFingerprint(const ManifestKey* key);
// The signature file's text for these manifest bytes.
bool signManifest(const ManifestKey* key, std::string_view manifest, std::string& signatureText, std::string& error);

enum class SignatureCheck { valid, malformed, mismatch };
SignatureCheck checkManifestSignature(const ManifestKey* key, std::string_view manifest, std::string_view signatureText);

// ---- The signature's expiry (expiry.cpp) ----
// A signed manifest names in this member the moment its signature stops counting, in UTC as
// "YYYY-MM-DDTHH:MM:SSZ" and in no other form. The installer of a signed build refuses a manifest
// without it, in another form, or more than a day (clock skew) past it, so that an old signed
// release cannot be served in place of the current one for ever. Unsigned builds never read it.
inline constexpr std::string_view kExpiryMember = "gueltigBis";
inline constexpr int kDefaultValidDays = 90;
inline constexpr int kMaxValidDays = 366;
// verify warns when a signature stops counting within this many days.
inline constexpr int kExpiryWarningDays = 14;

std::string formatExpiry(std::time_t moment);
// Exactly the form formatExpiry writes, with a real date and time; false for anything else.
bool parseExpiry(std::string_view text, std::time_t& moment);
// A whole number of days, at most three digits, from lowest to highest.
bool parseDayCount(std::string_view text, int lowest, int highest, int& days);
// A whole number of days from 1 to kMaxValidDays.
bool parseValidDays(std::string_view text, int& days);

// ---- The list of delivered files beside the uninstaller (file_list.cpp) ----

// In the package as "Inhalt/" followed by kFileListName whenever it holds the uninstaller: every
// payload path ("/"-separated, as in the zip) in the text of package/path_list.h, sorted, the
// list itself among them.

// The list's text for these payload paths (the list's own name is added).
std::string fileListText(std::vector<std::string> relativePaths);
// A payload that already holds a file of the list's name: orvan-publish writes that file itself.
std::string fileListReservedProblem(const std::vector<std::string>& relativePaths);
// verify: the list (nullptr when the package has none) against the package's payload paths.
void checkFileList(const std::string* listText, const std::vector<std::string>& payloadPaths, bool hasUninstaller,
                   std::vector<std::string>& problems, std::vector<std::string>& notes);

// ---- Authenticode on a Windows program (authenticode.cpp) ----

enum class Authenticode { notProgram, unsigned_, signed_ };
// From the first bytes of a file (kAuthenticodeHeadBytes suffice for any linker's headers):
// whether the PE header's certificate table is filled in.
inline constexpr std::size_t kAuthenticodeHeadBytes = 4096;
Authenticode authenticodeOf(std::string_view head);
// The same for a file; notProgram when it cannot be read.
Authenticode authenticodeOfFile(const std::string& path);

// ---- Releases that build on each other (history.cpp) ----
// Beside the manifest, build keeps the record of the versions whose parts the server still
// holds: the current one, and the ones it replaced, each with the moment it was superseded, so
// that installers that read an older manifest just before the switch still find its parts. A
// later build drops a version once its grace period is over and lists the parts to delete;
// upload deletes them only after the new catalog is in place.
inline constexpr std::string_view kReleasesReference = "launcher/freigaben.json";
inline constexpr int kDefaultGraceDays = 7;
inline constexpr int kMaxGraceDays = 366;

struct ReleaseEntry {
    std::string version;
    std::vector<std::string> parts; // file names beside the manifest
    std::string superseded;         // formatExpiry form; empty for the current version
};

struct ReleaseRecord {
    std::vector<ReleaseEntry> versions; // the current one first
    std::vector<std::string> dropped;   // parts a server may delete once the catalog is up
};

// Reads a record as build writes it; false with a German sentence in error.
bool parseReleaseRecord(const std::string& text, ReleaseRecord& record, std::string& error);
std::string releaseRecordText(const ReleaseRecord& record);
// A whole number of days from 0 to kMaxGraceDays.
bool parseGraceDays(std::string_view text, int& days);
// The record of a new release: version with these parts is current, the previous tree's
// manifest (and record, if it has one) is what it replaces. The version just replaced always
// stays; older ones stay until graceDays after they were superseded, and their parts are dropped
// then, unless a version that stays still names them.
bool planReleaseRecord(const std::string& previousTree, const std::string& version,
                       const std::vector<std::string>& parts, int graceDays, std::time_t now,
                       ReleaseRecord& record, std::string& error);

// ---- The commands ----

struct BuildOptions {
    std::string payloadDir;
    std::string version;
    std::string outDir;
    std::uint64_t partSize = kDefaultPartSize;
    std::uint64_t progressThreshold = kProgressThreshold;
    std::string signKeyFile; // P-256 private key in PEM: sign the manifest; empty: no signature
    int validDays = kDefaultValidDays; // how long the signature counts
    std::string uninstallerFile; // packed as "ORVAN Deinstallieren.exe"; empty: the payload's own, if any
    std::string previousTree; // the tree of the release this one replaces; empty: the first release
    int graceDays = kDefaultGraceDays; // how long a replaced version's parts stay
};

struct BuildSummary {
    std::size_t payloadFiles = 0;
    std::uint64_t packageSize = 0;
    std::size_t partCount = 0;
    ReleaseRecord record;         // as written beside the manifest
    std::size_t partsNotCopied = 0; // kept parts the previous tree did not hold (they stay on the server)
};

// Writes the tree; on failure returns false with error set (one problem a line) and leaves no
// tree behind. Progress lines and notes go to log (may be null).
bool buildTree(const BuildOptions& options, BuildSummary& summary, std::string& error,
               std::FILE* log);

// The file name build gives part number (counted from 1) of count: safe on Windows and on any
// server whatever the version holds, and new for new bytes so that caches never serve old ones.
std::string partFileNameFor(std::string_view version, std::size_t number, std::size_t count,
                            std::string_view digest);

struct VerifyOptions {
    std::string target;   // a tree folder or the base URL of a server
    std::string caFile;   // extra trust for a served tree
    std::string baseUrl;  // for a tree on disk: the base URL it will be served under
    std::string keyFile;  // P-256 public key in PEM: the manifest's signature must be its
    std::string installerFile; // the signed orvan-setup.exe: the packed uninstaller should be signed too
};

struct VerifyReport {
    std::vector<std::string> problems; // each one a reason the installer would fail
    std::vector<std::string> notes;    // worth knowing, harmless to the installer
    std::string version;
    std::size_t partCount = 0;
    std::uint64_t packageSize = 0;
    std::size_t payloadFiles = 0;
    bool hasUninstaller = false;
    bool signatureValid = false;
    std::string expiry;                // gueltigBis of a manifest whose signature checked out
    std::vector<std::string> warnings; // fine today, a problem soon: a signature about to expire
};

void verifyTree(const VerifyOptions& options, VerifyReport& report);

struct ResignOptions {
    std::string tree;        // a tree build wrote with --sign-key
    std::string signKeyFile; // the private key its manifest names in signaturschluessel
    int validDays = kDefaultValidDays;
};

// Gives the tree's manifest a new expiry and signature and changes nothing else; refuses a tree
// that verify finds fault with, a manifest whose signature does not check out, and another key.
// On failure returns false with error set (one problem a line) and leaves the tree as it was.
bool resignTree(const ResignOptions& options, std::string& expiry, std::string& error);

struct UploadOptions {
    std::string tree;   // as build wrote it, or only its manifest and signature (resign)
    std::string remote; // rclone's name of the server's /games/ folder ("studio:games", ":webdav:games")
    std::string rclone = "rclone";
};

// Hands the tree to rclone in the order that never shows an installer half a release: parts,
// manifest and signature one right after the other, the record, the
// catalog, and only then the parts the record drops. Refuses a tree that would leave the live
// manifest without its parts. Steps go to log.
bool uploadTree(const UploadOptions& options, std::string& error, std::FILE* log);

// The command line: 0 done/clean, 1 failed/problems found, 2 bad arguments, 3 (verify) no
// problem but a warning.
int runPublishCommand(int argc, char** argv, std::FILE* out, std::FILE* err);
// "orvan-publish winget ...": the Windows Package Manager's manifests for the installer (winget.cpp).
extern const char* const kWingetUsage;
extern const char* const kWingetHelp;
extern const std::vector<std::string> kWingetOptions;
int runWinget(const std::vector<std::string>& positional,
              const std::vector<std::pair<std::string, std::string>>& given, std::FILE* out, std::FILE* err);
