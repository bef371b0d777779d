// wirelib32: STAND-IN for the control system's library "wirelib32.dll",
// which this machine does not have. It is a resource library: the generic
// About and splash dialogs load bitmaps from it by name (e.g. "LOGO"); it
// has no code, and the C runtime's entry point serves.
