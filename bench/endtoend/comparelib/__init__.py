"""The side-by-side comparison of tunesift-cli with the limits and the peers, by concern."""
