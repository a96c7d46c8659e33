# Appending the firmware image to a program (filled in with the packer).
