"""Where the installer puts the launcher in a Wine prefix (the default install folder and the two
shortcuts of each user), and Linux paths as the Windows programs of the prefix name them."""
import os
import shutil


def windows_path(path):
    """The path through Wine's Z: drive, which maps the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_users(prefix):
    folder = os.path.join(prefix, "drive_c", "users")
    return [os.path.join(folder, name) for name in sorted(os.listdir(folder)) if name != "Public"]


def install_folder(user):
    return os.path.join(user, "AppData", "Local", "Programs", "Korvane Launcher")


def windows_install_folder(user):
    return f"C:\\users\\{os.path.basename(user)}\\AppData\\Local\\Programs\\Korvane Launcher"


def shortcut_paths(user):
    return [os.path.join(user, "Desktop", "Korvane Launcher.lnk"),
            os.path.join(user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                         "Korvane Launcher.lnk")]


def staging_folders(user):
    parent = os.path.dirname(install_folder(user))
    if not os.path.isdir(parent):
        return []
    return [os.path.join(parent, name) for name in os.listdir(parent) if name.startswith(".korvane-install-")]


def remove_installation(user):
    """The install folder, both shortcuts and any staging folder: a fresh start for the next install."""
    shutil.rmtree(install_folder(user), ignore_errors=True)
    for path in shortcut_paths(user) + staging_folders(user):
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.lexists(path):
            os.remove(path)
