// Placeholder; filled in by the work on this folder.
