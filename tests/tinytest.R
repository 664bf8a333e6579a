if (requireNamespace("tinytest", quietly = TRUE)) {
  set.seed(20261208)
  tinytest::test_package("client")
}
