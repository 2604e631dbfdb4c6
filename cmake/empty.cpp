// Keeps every library non-empty while its folder is still being filled.
