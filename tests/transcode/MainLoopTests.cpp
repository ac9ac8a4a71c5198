// The main loop.
