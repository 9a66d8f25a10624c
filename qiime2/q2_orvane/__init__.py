"""The QIIME 2 plugin `orvane`: Orvane's classifier on QIIME 2 artifacts."""
