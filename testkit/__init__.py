"""Test tooling shared by the tests, the demo and the benchmarks, one module per concern:

    checks          Failure, check, wait_until
    prefix          where the installer puts the launcher in a Wine prefix; Linux paths as Windows sees them
    window          the installer's window under X: found, captured, clicked, its screen told from pixels
    test_ca         the test CA and the certificates it issues for the loopback listeners
    nginx           the shipped release-site configuration run by a private nginx
    servers         the running loopback test servers, scripted through their control port
    signing         release manifests signed with plain openssl
    launcher_package  launcher packages with the stand-in KORLAUNCHER.exe, signed by the release tool
    session         the start-up shared by the programs that drive the real installer
    build_tree      what a configured build folder holds

Every user puts the repository's top folder on its path with one line and imports from here:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ...))  # the top folder
"""
