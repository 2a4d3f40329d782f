int tqstoreAnchor() { return 0; }
