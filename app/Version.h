#pragma once
// The version record, shared by the resource script and the About text.
#define VAULTMERE_VERSION_MAJOR 1
#define VAULTMERE_VERSION_MINOR 4
#define VAULTMERE_VERSION_BUILD 0
#define VAULTMERE_VERSION_REVISION 2
#define VAULTMERE_VERSION_TEXT "1.4.0.2"
#define VAULTMERE_COPYRIGHT "Copyright (C) 2026 Brackwater Software. All rights reserved."
#define VAULTMERE_COMMENTS "For updates visit the Brackwater website at www.brackwater.example."
