# The Qt desktop program; filled in with the dialogs.
