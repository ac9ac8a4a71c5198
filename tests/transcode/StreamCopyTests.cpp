// Stream copy end to end.
