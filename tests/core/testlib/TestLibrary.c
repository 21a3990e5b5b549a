/* A stand-in client library for the session's loading tests: two entry
   points, one answering a fixed value so a test can see it was bound. */
int vdb_test_answer(void) { return 42; }
int vdb_test_add(int a, int b) { return a + b; }
