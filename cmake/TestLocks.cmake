# The resource locks of the test run. CTest never runs two tests that name the same lock at once; all
# other tests still run side by side (tools/test.sh runs CTest with -j2). Included by the super-build
# (its own tests) and by every cross tree (tidewash_add_test), so that both speak of one lock by one name.

# The one-run guard of Tidewash.exe is a Global\ mutex of the Wine server, so a test that starts a
# guarded program, or holds the guard's mutex itself, turns away every other such test of that server.
# HEADLESS tests run in a server of their own (the headless prefix) and meet only one another there.
set(TIDEWASH_LOCK_ONE_RUN one_run)
set(TIDEWASH_LOCK_ONE_RUN_HEADLESS one_run_headless)

# State of the whole prefix that a test changes and puts back: the Windows version Wine plays for the
# prefix, files in System32, HKLM policies, drive mappings. A setting that touches one program only
# (HKCU\Software\Wine\AppDefaults\<program>.exe) needs no lock.
set(TIDEWASH_LOCK_PREFIX_STATE prefix_state)
