// Keeps a library of the Windows build non-empty while its folder has no sources.
